// packer_main.cpp -- the package builder as a program: packs the sources in the current directory
#include <stdio.h>

#include "payload/pack.h"

// Exits 0 only when every payload was written: a missing source or a failed
// update gives 1, so that a build script can stop on it.
int main()
{
    bool packed = pack_payloads();
    int missing = missing_payload_sources();
    if (!packed)
        fprintf(stderr, "packer: the payloads could not be written into %s\n", PACKAGE_TARGET);
    else if (missing > 0)
        fprintf(stderr, "packer: %d source file(s) missing; see the message boxes\n", missing);
    return packed && missing == 0 ? 0 : 1;
}
