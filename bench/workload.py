#!/usr/bin/env python3
"""Benchmark workloads: a configuration and the exact records its compilation
must give.

    workload.py NAME DIR

writes DIR/NAME.conf and DIR/NAME.records. The records are in the input
format of the generic cdb tools (cdbmake, cdb -c): "+klen,dlen:key->data" and
a newline per record, an empty line at the end. They stand in the order the
compiler writes them: the last client block of the configuration first,
within a block its keys from left to right, a network or range ascending.
Record data is each variable as name=value and a NUL byte, the included
class's variables first, every ${name} replaced by that variable's value.

Nothing is random: the same name always gives the same bytes.

Workloads:
  networks, networks4, networks16   one class of 6 variables; 48 (x4, x16)
                                    client blocks, each a /20 network that
                                    includes the class and sets 6 variables,
                                    two of them referring to the class's
  ranges                            2,000 blocks of a 200-address last-octet
                                    range with 2 or 3 small variables
  hosts, hosts80k                   a site's hosts: a class of 4 variables;
                                    8,000 (80,000) blocks named "name,address"
                                    that include it and set 8 variables, half
                                    of them with references
  hosts20k                          20,000 blocks that include three of 55
                                    classes (a rack's class includes its
                                    row's), append to a class's variable with
                                    "+=", every fifth overrides one, and set 7
                                    of their own
  chain10k, chain20k                one client whose every variable refers to
                                    the one before

Expansion shapes, each one client at 10k, 20k and 40k (the size n in the
name); the benchmark reports the time of the larger over the smaller:
  shapeA<n>, shapeB<n>              two shapes that once took quadratic time
                                    (a memo's references walked again at
                                    every insertion), with N = L = n
  dollars<n>                        a run of n "$" met by a value that takes
                                    back n of them (or one more), n times
  borders<n>                        n references made of a "$" before an
                                    inserted value and the "{" it begins
                                    with, each reaching a chain of n values
  deep<n>                           a chain of n variables each referring to
                                    the next, not all plain (the general
                                    expansion)
"""

import functools
import re
import sys

REFERENCE = re.compile(r"\$\{([^}]*)\}")


class Block:
    """One client entry: its keys, in record order, and its variables; data
    is the record data when the variables are not plain (else it is made by
    expand)."""

    def __init__(self, keys, variables, data=None):
        self.keys = keys
        self.variables = variables
        self.data = data


def expand(variables):
    """The record data: every reference is a whole "${name}" of a variable
    of the entry, without cycles, so each one is that variable's value with
    its own references expanded, wherever the variable stands."""
    stored = dict(variables)
    done = {}

    def value_of(name):
        if name not in done:
            done[name] = REFERENCE.sub(lambda m: value_of(m.group(1)), stored[name])
        return done[name]

    return "".join(f"{name}={value_of(name)}\0" for name, _ in variables).encode()


def assign(variables, name, value, append=False):
    """An assignment to an entry's variables, a list of (name, value) in the
    order of creation: a new name goes at the end, "+=" joins the values,
    "override" replaces the value; either way the variable keeps its place."""
    for k, (n, v) in enumerate(variables):
        if n == name:
            variables[k] = (n, v + value if append else value)
            return
    variables.append((name, value))


def network_keys(a, b, c):
    """The 4096 addresses of the /20 network a.b.c.0, ascending, made as they
    are written out: the largest workload would not fit in memory at once."""
    return (f"{a}.{b}.{c + j}.{d}" for j in range(16) for d in range(256))


def range_keys(b, c):
    """The 200 addresses of the range 10.b.c.10-209, ascending."""
    return (f"10.{b}.{c}.{d}" for d in range(10, 210))


# The networks workload: the class, included by every block.
SITE_CLASS = [
    ("domain", "clients.corvane.example.net"),
    ("nfs_server", "172.31.255.10"),
    ("tftp_server", "172.31.255.11"),
    ("boot_file", "pxelinux.0"),
    ("ntp_server", "172.31.255.12"),
    ("lease", "86400"),
]


def networks(blocks):
    conf = ["# sites: one /20 network each\n",
            "class site {\n"]
    conf += [f'  {n} = "{v}";\n' for n, v in SITE_CLASS]
    conf.append("}\n\n")
    out = []
    for i in range(blocks):
        a, b, c = 172, 16 + i // 16, (i % 16) * 16
        own = [
            ("site", f"site-{i:04d}"),
            ("vlan", str(100 + i)),
            ("gateway", f"{a}.{b}.{c}.1"),
            ("root_path", f"${{nfs_server}}:/export/roots/site-{i:04d}/current"),
            ("search", f"site-{i:04d}.${{domain}}"),
            ("comment", f"bldg {i // 16}/{i % 16}"),
        ]
        conf.append(f'client "{a}.{b}.{c}.0/20" : site {{\n')
        conf += [f'  {n} = "{v}";\n' for n, v in own]
        conf.append("}\n")
        out.append(Block(network_keys(a, b, c), SITE_CLASS + own))
    return conf, out


def ranges():
    conf = ["# labs: one range of 200 addresses each\n"]
    out = []
    for i in range(2000):
        b, c = i // 256, i % 256
        own = [("pool", f"range-{i:04d}"), ("boot", "ipxe.efi")]
        if i % 2:
            own.append(("lease", "3600"))
        conf.append(f'client "10.{b}.{c}.10-209" {{\n')
        conf += [f'  {n} = "{v}";\n' for n, v in own]
        conf.append("}\n")
        out.append(Block(range_keys(b, c), own))
    return conf, out


# The hosts workload's class, included by every block.
HOST_CLASS = [
    ("root", "/srv/tftp"),
    ("domain", "lab.example.net"),
    ("resolver", "10.255.0.53"),
    ("boot", "pxelinux.0"),
]


def host_address(i):
    """10.20.X.Y for the first 65,536 hosts, then 10.21.X.Y and on."""
    return f"10.{20 + i // 65536}.{i // 256 % 256}.{i % 256}"


def mac(i):
    return f"52:54:00:{i >> 16 & 255:02x}:{i >> 8 & 255:02x}:{i & 255:02x}"


def quoted(assignments):
    return [f'  {n} = "{v}";\n' for n, v in assignments]


def hosts(count):
    """A site's machines, one block each, named by host name and address."""
    conf = ["# the site's machines: one block each, by name and address\n",
            "class site {\n"]
    conf += quoted(HOST_CLASS)
    conf.append("}\n\n")
    out = []
    for i in range(count):
        name, address = f"host{i:04d}", host_address(i)
        own = [
            ("name", name),
            ("ip", address),
            ("mac", mac(i)),
            ("group", f"g{i // 40:03d}"),
            ("fqdn", "${name}.${domain}"),
            ("path", "${root}/hosts/${name}"),
            ("dns", "${resolver}"),
            ("note", "${ip} in rack ${group}"),
        ]
        conf.append(f'client "{name},{address}" : site {{\n')
        conf += quoted(own)
        conf.append("}\n")
        out.append(Block([name, address], HOST_CLASS + own))
    return conf, out


# The variant's classes: the site's settings, one of two boot methods, and
# a rack each; a rack's class includes its row's.
VARIANT_SITE = [
    ("root", "/srv/tftp"),
    ("domain", "lab.example.net"),
    ("resolver", "10.255.0.53"),
    ("options", "ntp,syslog"),
    ("lease", "86400"),
]
VARIANT_BOOT = {
    "bios": [("boot", "pxelinux.0"), ("arch", "x86"), ("loader", "${root}/bios/${boot}")],
    "uefi": [("boot", "grubx64.efi"), ("arch", "x86_64"), ("loader", "${root}/efi/${boot}")],
}
RACKS, ROWS = 48, 4


def row_class(r):
    return [("row", f"row{r}"), ("power", f"pdu-{r}.${{domain}}")]


def rack_class(k):
    return [("rack", f"r{k:02d}"), ("switch", f"sw-{k:02d}.${{domain}}"), ("vlan", str(200 + k))]


def hosts_variant(count):
    """Blocks that include three classes, append to a class's variable and,
    every fifth, override another."""
    conf = ["# a site's machines by rack, with shared settings in classes\n",
            "class site {\n"]
    conf += quoted(VARIANT_SITE)
    conf.append("}\n")
    for method, variables in VARIANT_BOOT.items():
        conf.append(f"class {method} {{\n")
        conf += quoted(variables)
        conf.append("}\n")
    for r in range(ROWS):
        conf.append(f"class row{r} {{\n")
        conf += quoted(row_class(r))
        conf.append("}\n")
    for k in range(RACKS):
        conf.append(f"class rack{k:02d} : row{k % ROWS} {{\n")
        conf += quoted(rack_class(k))
        conf.append("}\n")
    conf.append("\n")
    out = []
    for i in range(count):
        name, address = f"node{i:05d}", host_address(i)
        method, k = ("bios", "uefi")[i % 3 == 0], i // 7 % RACKS
        variables = VARIANT_SITE + VARIANT_BOOT[method] + row_class(k % ROWS) + rack_class(k)
        conf.append(f'client "{name},{address}" : site, {method}, rack{k:02d} {{\n')
        body = [("name", name, ""), ("ip", address, ""), ("mac", mac(i), ""),
                ("options", ",rack-${rack}", "+=")]
        if i % 5 == 0:
            body.append(("boot", "${name}.ipxe", "override"))
        body += [("fqdn", "${name}.${domain}", ""),
                 ("path", "${root}/hosts/${name}", ""),
                 ("note", "${ip} on ${switch} (${row}), vlan ${vlan}", ""),
                 ("console", "${fqdn}:ttyS0,115200", "")]
        variables = list(variables)
        for n, v, how in body:
            if how == "override":
                conf.append(f'  override {n} = "{v}";\n')
            else:
                conf.append(f'  {n} {how or "="} "{v}";\n')
            assign(variables, n, v, append=how == "+=")
        conf.append("}\n")
        out.append(Block([name, address], variables))
    return conf, out


def chain(count):
    """A one-line entry, since a block holds fewer assignments than this."""
    own = [("v0", "base")] + [(f"v{k}", f"${{v{k - 1}}}") for k in range(1, count)]
    line = " ".join(f"{n}({v})" for n, v in own)
    return [f"chain: {line}\n"], [Block(["chain"], own)]


def one_client(items, expanded):
    """A one-line client h holding items (name, value), whose record data is
    expanded (name, expanded value), worked out for each shape below."""
    line = " ".join(f"{n}({v})" for n, v in items)
    data = b"".join(f"{n}={v}\0".encode() for n, v in expanded)
    return [f"h: {line}\n"], [Block(["h"], items, data)]


def chain_to_x(n):
    """c1 refers to c2, ... and cn is "x": every c expands to "x"."""
    return [(f"c{i}", f"${{c{i + 1}}}") for i in range(1, n)] + [(f"c{n}", "x")]


def shape_a(n):
    """y empty, w1..w9 "{y}" (each taken whole by the "$" before it in M),
    M refers to the chain c1..cn, and a1..an to M: M, the c and the a are
    all "x"."""
    ws = [(f"w{i}", "{y}") for i in range(1, 10)]
    m = "".join(f"$${{w{i}}}" for i in range(1, 10)) + "${c1}"
    cs = chain_to_x(n)
    as_ = [(f"a{i}", "${M}") for i in range(1, n + 1)]
    items = [("y", "")] + ws + [("M", m)] + cs + as_
    expanded = [("y", "")] + ws + [("M", "x")] + [(c, "x") for c, _ in cs] + [(a, "x") for a, _ in as_]
    return one_client(items, expanded)


def shape_b(n):
    """Q is "$${a1}...$${an}", each a = "{y}${M}" taking its "$" with "{y}"
    and leaving M, which is the chain c1..cn, "x": Q is n "x"."""
    q = "".join(f"$${{a{i}}}" for i in range(1, n + 1))
    as_ = [(f"a{i}", "{y}${M}") for i in range(1, n + 1)]
    cs = chain_to_x(n)
    items = [("y", ""), ("Q", q)] + as_ + [("M", "${c1}")] + cs
    expanded = ([("y", ""), ("Q", "x" * n)] + [(a, "{y}x") for a, _ in as_] + [("M", "x")] +
                [(c, "x") for c, _ in cs])
    return one_client(items, expanded)


def dollars(n):
    """run is n "$"; take is n "{e}", each of which takes one back; longer is
    one "{e}" more, which finds the run empty and stays. x<i> is run then
    take, or run then longer, then "z"."""
    items = [("run", "$" * n), ("take", "{e}" * n), ("longer", "{e}" * (n + 1)), ("e", "")]
    xs = [(f"x{i}", "${run}${take}z" if i % 2 else "${run}${longer}z") for i in range(n)]
    expanded = items + [(x, "z" if i % 2 else "{e}z") for i, (x, _) in enumerate(xs)]
    return one_client(items + xs, expanded)


def borders(n):
    """a<i> = "x$${r<i>}y": the "$" before r<i>'s value and the "{" it begins
    with make a reference to s<i>, and the s run on to "end"."""
    as_ = [(f"a{i}", f"x$${{r{i}}}y") for i in range(n)]
    rs = [(f"r{i}", f"{{s{i}}}") for i in range(n)]
    ss = [(f"s{i}", f"${{s{i + 1}}}") for i in range(n - 1)] + [(f"s{n - 1}", "end")]
    expanded = [(a, "xendy") for a, _ in as_] + rs + [(s_, "end") for s_, _ in ss]
    return one_client(as_ + rs + ss, expanded)


def deep(n):
    """v0 refers to v1, v1 to v2, ... and v<n> ends in a "$", which makes
    the host's references not all plain."""
    vs = [(f"v{k}", f"${{v{k + 1}}}") for k in range(n)] + [(f"v{n}", "base$")]
    return one_client(vs, [(v, "base$") for v, _ in vs])


WORKLOADS = {
    "networks": lambda: networks(48),
    "networks4": lambda: networks(4 * 48),
    "networks16": lambda: networks(16 * 48),
    "ranges": ranges,
    "hosts": lambda: hosts(8000),
    "hosts80k": lambda: hosts(80000),
    "hosts20k": lambda: hosts_variant(20000),
    "chain10k": lambda: chain(10000),
    "chain20k": lambda: chain(20000),
}
SHAPES = {"shapeA": shape_a, "shapeB": shape_b, "dollars": dollars, "borders": borders, "deep": deep}
for shape_name, shape in SHAPES.items():
    for k in (10, 20, 40):
        WORKLOADS[f"{shape_name}{k}k"] = functools.partial(shape, 1000 * k)


def write_records(path, blocks):
    """Newest block first; one write per block keeps this fast at 1 GiB."""
    with open(path, "wb") as f:
        for block in reversed(blocks):
            data = block.data if block.data is not None else expand(block.variables)
            tail = b"->" + data + b"\n"
            f.write(b"".join(b"+%d,%d:%s%s" % (len(k), len(data), k.encode(), tail)
                             for k in block.keys))
        f.write(b"\n")


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in WORKLOADS:
        sys.exit(f"usage: workload.py {{{'|'.join(WORKLOADS)}}} DIR")
    name, directory = sys.argv[1], sys.argv[2]
    conf, blocks = WORKLOADS[name]()
    with open(f"{directory}/{name}.conf", "w") as f:
        f.writelines(conf)
    write_records(f"{directory}/{name}.records", blocks)


if __name__ == "__main__":
    main()
