// pack_target.cpp -- an updater stand-in for the packer tests: unpacks every payload it carries
// Usage: pack_target DIR -- writes each row's payload under "~source_name" (file mode) and
// "mem_source_name" (memory mode) into DIR, prints details_text and exits with the failure count.
#include <stdio.h>
#include <stdlib.h>

#include "app/state.h"
#include "payload/extract.h"
#include "payload/manifest.h"

int main(int argc, char **argv)
{
    if (argc != 2)
        return 100;
    snprintf(install_dir, sizeof install_dir, "%s", argv[1]);
    int failures = 0;
    for (const PayloadEntry &row : payload_manifest) {
        if (extract_payload(row.resource_id, row.source_name, NULL, NULL) != 0)
            ++failures;
        unsigned char *data = NULL;
        int length = 0;
        if (extract_payload(row.resource_id, row.source_name, &data, &length) != 0 || data[length] != '\0') {
            ++failures;
            continue;
        }
        char path[1024];
        snprintf(path, sizeof path, "%s\\mem_%s", argv[1], row.source_name);
        FILE *file = fopen(path, "wb");
        if (!file || fwrite(data, 1, length, file) != static_cast<size_t>(length) || fclose(file) != 0)
            ++failures;
        free(data);
    }
    fputs(details_text, stdout);
    return failures;
}
