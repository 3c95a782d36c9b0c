// catalogue_scan.cpp -- checks that a built program holds every catalogue text byte for byte, NUL-terminated
#include <stdio.h>
#include <string.h>
#include <string>

#include "app/catalogue.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: catalogue_scan PROGRAM\n");
        return 2;
    }
    FILE *file = fopen(argv[1], "rb");
    if (!file) {
        fprintf(stderr, "catalogue_scan: cannot open %s\n", argv[1]);
        return 2;
    }
    std::string program;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        program.append(buffer, n);
    fclose(file);

    int missing = 0;
    for (int language = 1; language <= CATALOGUE_LANGUAGES; ++language) {
        for (int slot = 0; slot < MESSAGE_SLOTS; ++slot) {
            const char *text = catalogue_text(language, static_cast<MessageId>(slot));
            // With its terminator, so that a longer text holding this one does not count.
            if (program.find(std::string(text, strlen(text) + 1)) == std::string::npos) {
                printf("missing: language %d slot %d\n", language, slot);
                ++missing;
            }
        }
    }
    printf("%d of %d catalogue texts found in %s\n", CATALOGUE_LANGUAGES * MESSAGE_SLOTS - missing,
           CATALOGUE_LANGUAGES * MESSAGE_SLOTS, argv[1]);
    return missing == 0 ? 0 : 1;
}
