// pack.h -- the package builder: writes every payload of the manifest into the updater executable
#pragma once

// Name of the updater executable that pack_payloads updates, in the current directory.
extern const char PACKAGE_TARGET[];

// pack_payloads -- compresses each row's source_name (current directory) into
// RT_RCDATA resource resource_id, language 0, of PACKAGE_TARGET, keeping its
// other resources. A missing source shows the "File Not Found" box, naming
// it, and that row is skipped. Returns the truth value of ending the update:
// false, with the target unchanged, when the update cannot begin, a source
// cannot be read whole, or a payload cannot be compressed or added.
bool pack_payloads();

// Number of sources that pack_payloads found missing in its latest call.
int missing_payload_sources();
