// single_instance.h -- one updater at a time
#pragma once

// claim_single_instance -- true when no other updater runs (or this process
// holds the claim already); this process then holds the claim until it
// exits (or crashes). Otherwise brings the other updater's window forward,
// if it shows one, and returns false.
bool claim_single_instance();
