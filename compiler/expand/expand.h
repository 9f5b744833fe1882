// The expansion of references: the record data of a host, its variables
// joined as name "=" value NUL, with every "${name}" reference expanded.
//
// THE MAP
//
// The rule. The data is the items (name "=" value NUL) in list order. From
// the first "=" on, the first "$" immediately followed by "{" begins a
// reference; its name runs to the next "}" of the same item (no "}":
// "unfinished ${ in", with the text from the "$" to the item's end); a name
// that is no variable is "didn't find variable" ("${name}"); else the
// reference is replaced by the variable's value as stored, and the search
// starts again. Both messages name the line of the item's variable. Data
// whose bytes certain to stay pass the limit is refused ("database too
// large") as soon as that is certain, before a failure that follows; the
// rule checks it at every step. An expansion the rule would go on with for
// ever is reported as "recursive variable reference: ${name}" (or as too
// large, when its data passes the limit first).
//
// How the expander sees the rule. Everything before the scan position is
// final except a run of "$" at its end, the count: a "{" that arrives with
// a count takes one "$" back and begins a reference, with none it is
// written. So a value's text, scanned at a position, depends only on the
// count before it, and on the text after it only when a reference's "}"
// lies past its end. Its expansion there is computed once, as a memo, and
// inserted whole wherever the same count stands before it.
//
// The pieces, and why each exists:
//   direct.cc    Hosts whose references are all plain, the common case:
//                one pass in list order, every variable expanded once (one
//                further on than a reference to it, ahead of its turn) and
//                each reference a copy of that expansion.
//   prefix.cc    The items of the variables that a host's includes give
//                it, made once per include path: the direct pass copies
//                those that the host changed nothing of.
//   items.cc     The item frame: the data, item after item. An item's value
//                reached with its "=" just written is its variable's memo.
//   frames.cc    A frame scans one value's text by the rule: bytes, "$"
//                runs, a "{" taken or written, a reference read and
//                replaced by a memo. It ends when its text is used up, or
//                when a reference runs past its end (crossing): the text
//                read so far goes to the frame below, which reads on.
//   memos.cc     The memos, found by what they are of, and the two checks
//                that a repeat goes on for ever. Three kinds per value:
//                  behind n   the value behind exactly n "$";
//                  front      behind unlimited "$", up to the first byte it
//                             writes that is not "$": how many "$" before it
//                             it takes back (taken) and how many it writes
//                             first, or that it takes back for ever;
//                  rest       the value from that byte on.
//                Behind a count of at least front.taken a value expands to
//                its front and rest, whatever the count: the "$" beyond
//                taken stay. Behind fewer it takes them all and writes its
//                "{": that expansion is its own memo, behind that count.
//   texts.cc     Texts with holes: a memo inserted is one piece however
//                long, so the data's length is known before it is built,
//                and data that cannot fit is refused without building it.
//   names.cc     Looking names up, and reading a name across the ends of
//                inserted values (the part read so far narrows a range of
//                the sorted names).
//   descents.cc  A value asked for behind fewer "$" inside its own
//                expansion (x = "{x}$$" behind n asks for x behind n-1):
//                the levels repeat one function, made from the base up and
//                jumped over when each adds only "$"; such levels are a
//                family, which the cycle check may look through.
//   failures.cc  The messages, after the exact check for too large.
//
// Words:
//   item      one assignment of the data: name "=" value NUL.
//   frame     the scan of one text: the item frame, or a memo's value.
//   count     the "$" at the end of the data before a frame's scan
//             position: a frame's own, then (while it has written only
//             "$") those before it that it has not taken.
//   taken     "$" before a frame or memo that it took back.
//   sealed    (a text) holding a byte other than "$".
//   memo      a value's expansion of one kind (behind n, front, rest).
//   crossing  a memo whose last reference's "}" lies past the value's end;
//             pending: the reference's text after "${" read so far.
//   hole      a piece of text standing for a prefix of a memo's text.
//   path      the item frame, behind and rest frames: each is part of the
//             data as the rule builds it. Fronts are not (a front is the
//             value behind more "$" than there may be); what they find is
//             used only behind a count of at least what they took first.
//   linked    (a frame's count) one that could only grow, were the frame's
//             own count larger: its "$" before any other byte, or the end
//             of a family member it inserted on a linked count.
//   decision  a step that depends on a count: a "{" taken or written, a
//             value inserted whole (front.taken <= count) or behind it.
//   dirty     (a frame) a decision on a linked count, in it or in a frame
//             its count reaches, went the way a larger count would not.
//   descent, level, base, family: see descents.cc.
//
// Calls from expand_host down:
//   expand_host (expand.cc)
//     expand_direct (direct.cc)                     -- plain hosts; or
//     items_expand (items.cc): per item, begin_item, then until the item
//                                                      frame ends its item:
//       frame_scan (frames.cc) on the top frame
//         scan_step: scan_dollars | scan_open | scan_plain,
//                    read_name | read_across (names.cc)
//           insert: insert_behind | insert_in_front | insert_rest
//             memo_behind | memo_front | memo_rest (memos.cc)
//             behind_repeats, descent_probe, descent_begin (cycles, descents)
//             frame_start: a child frame for a memo not yet known
//         fail_missing | fail_unfinished | fail_cycle | fail_too_large
//       frame_finish: the memo is known (descent_finish), the frame goes
//   expand_length, expand_data -> text_write_data (texts.cc)
//
// THE COST
//
// V is the bytes of the host's names and values, D the bytes of data
// written out (at most the limit).
//
// Direct: each value scanned once as it is written (one expanded ahead of
// its turn is scanned once more for its references first, and its item
// copies it), each reference looked up once (a walk of at most 32 names,
// or the list's index), and each copy is of bytes written out: O(V + D).
//
// General:
//   1. Every memo is made by one frame, once: asked for while its frame
//      runs, a memo behind n or a rest is a cycle, a front takes back for
//      ever; neither starts a second frame.
//   2. A frame reads its text once. Each byte is looked at by one plain
//      run, "$" run, name up to its "}", or the one search for a "}" that
//      finds none (the frame then ends): O(length) per frame.
//   3. A reference costs the lookup of its name (hashing the bytes just
//      read), O(1) to insert a memo (one piece, or a copy of fewer than 64
//      bytes), and O(1) for the checks (the variable's innermost frame and
//      two flags). A name read across the ends of inserted values costs a
//      binary search per byte on the names, sorted once: O(V log V), only
//      for hosts where that happens.
//   4. Behind no "$", front and rest: at most three frames per variable,
//      so O(V) for all of them.
//   5. Writing out: every hole stands for at least 64 bytes, and a text
//      that is one hole is inserted as that hole, so the holes visited are
//      fewer than the bytes written; a memo written whole is copied from
//      where it was written first: O(D).
//   6. Too large: O(1) per write (a lower bound of the bytes certain to
//      stay); the exact count, at a failure, once.
//   7. Dirt: marking stops at the first frame already dirty, so a frame
//      is marked once, unless a family undoes it (below).
//   Total: O(V + D), and O(V log V + D) with names read across values,
//   for every host in which no value is expanded behind fewer "$" than it
//   takes back.
//
// The rest is P, a frame per pair (x, n), n >= 1, at which x is expanded
// behind n "$" while its front takes back more than n (or for ever): O(the
// value's length) for each, plus, for a descent or a family, one pass over
// the frames between it and the frame around it (the slack, or the dirt
// to undo). A descent makes its levels from the
// base up and jumps to the level asked for as soon as two levels in a row
// differ only in "$" at their end, so a value that asks for itself behind
// one "$" fewer costs two levels, not n. P is 0 for every shape of the
// benchmark, but not bounded by V + D in general: x = "${e}" repeated m
// times and then "{e}" k times, expanded behind 1, 2, ..., k-1 "$" from k
// places, costs k*(m + k) for data of about k*k bytes. Making P linear
// would take a second kind of memo, the rest of a value from a position
// behind a count, shared between counts.
//
// Counts and lengths are exact below 2^62. Data that would at some step of
// the rule hold 2^62 "$" or more is refused as too large, even where the
// rule would take them back later: no machine holds such data, and the
// rule would need at least that many steps.
//
// CYCLES
//
// Soundness (a cycle is reported only where the rule goes on for ever):
//   - A memo behind n asked for again while its frame runs: the value's
//     text behind exactly n "$", inside its own expansion, with nothing
//     below it read (else the frame would have ended): the same run from
//     the same state, nested in itself, for ever. A rest likewise.
//   - Behind more "$" than the innermost frame of the same variable, that
//     frame clean: run the frame again behind that many more. Every
//     decision on a linked count sees a larger count and goes the same
//     way (clean), every family member inserted on one is its family's
//     member that many more "$" along, and every other count is the same;
//     so the run asks for the variable again behind no fewer "$" than it
//     began with, at the same place, and so on for ever.
//   A front asked for while its frame runs only means that the value takes
//   back "$" for ever behind unlimited "$"; it is not a cycle.
// Every run ends: an expansion the rule goes on with for ever makes an
// endless chain of frames (each frame does finite work of its own). Fronts
// form no endless chain (one per variable, and one asked for again while
// it runs ends at once), nor do rests (one each). Of
// the frames behind a count, infinitely many are of one variable; their
// counts cannot fall for ever, so one is asked for behind no fewer "$"
// than the one around it. Each decision that makes a frame dirty writes a
// byte that stays in the data, so after at most limit + 1 of them the data
// is too large, and the frames after the last one are clean.
//
// The guard. "After at most limit + 1 of them" is billions of frames with
// the real limit, each holding memory: a host of a hundred bytes such as
//   Host = "{a}$$"; a = "{Host}"; b = "{a}$$$${b}";
// nests b in itself behind one more "$" at every level, each level dirty,
// and the rule writes a byte more every time round, for ever. So frames
// nest at most 65,536 + 4 per variable deep (frames.cc): without a
// variable nested in itself they stay within a few per variable, and
// deeper nesting is that dirty chain, which is reported as the cycle it
// is (after the exact check for too large). A host on which the rule ends
// but only after more than 65,536 such levels, each writing a byte that
// stays, would be reported as a cycle too; we know of none, and the rule
// would take at least that many steps over data that long.
#pragma once

#include "cdb/cdb_writer.h"
#include "compiler/tables.h"

#include <cstdint>

enum expand_status {
    expand_done,
    expand_bad_reference,   // the failure says which
    expand_too_large,       // the data would be longer than the limit
};

struct expand_failure {
    const char *msg;      // "unfinished ${ in", "didn't find variable", "recursive variable reference"
    const char *detail;   // good until the next expansion
    int64_t line;         // where the item's variable was last set
};

// The longest data that a record can carry: with a key of at least one
// byte, data and key together must stay within the database's limit.
inline uint64_t expand_data_limit()
{
    return uint64_t{cdb_position_limit} - 1;
}

// What the includes of the host whose entry has just ended gave it: its
// include path, and which of its first 64 variables it changed
// (host_include_path and host_changed of the tables). Its expansion then
// copies the items of the path's variables that nothing changed, as the
// path's memo holds them (prefix.cc).
struct host_prefix {
    include_path *path;
    uint64_t changed;
};

// Builds and expands the data of h. A text that is bound to grow past limit
// stops the expansion as soon as that is certain. On success the data is
// described by expand_length and written out by expand_data. prefix: h's
// include path and changes, or null (as for a host without includes).
expand_status expand_host(const host *h, uint64_t limit, expand_failure *failure, const host_prefix *prefix);

uint64_t expand_length();

// The expanded data, written out on the first call; good until the next
// expansion.
const char *expand_data();
