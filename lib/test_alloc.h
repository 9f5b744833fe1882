// Allocation failure injection for the library's unit tests. The test binary
// is linked with --wrap=malloc and --wrap=realloc, so every malloc and realloc
// call made by the code linked into it (the library under test included)
// passes through here; calls from shared libraries do not.
#pragma once

// After skip more calls succeed, the following count calls fail (null with
// errno ENOMEM); then calls succeed again.
void test_alloc_fail(unsigned skip, unsigned count);

// Every call succeeds again.
void test_alloc_reset();
