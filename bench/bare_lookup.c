/* The least a lookup in a version 1-4 pak archive can do, as a yardstick for the game's own:
 * read the header, inflate the directory with zlib into one block, compare the wanted name
 * with the start of every record's name (ASCII letters without case). No checks, no search
 * order, no lookup of loose files.
 *
 * Usage: bare_lookup ARCHIVE NAME   exit 0 when a record matches, 1 when none does, 2 on error.
 * Built by run_bench.py: cc -O2 -o bare_lookup bare_lookup.c -lz
 */
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

static uint32_t number(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    FILE* file = fopen(argv[1], "rb");
    unsigned char header[280];
    if (file == NULL || fread(header, 1, sizeof header, file) != sizeof header) return 2;
    uint32_t version = number(header), count = number(header + 4);
    uint32_t size = number(header + 8), packed = number(header + 12);
    uint32_t headerSize = version == 1 ? 16 : version == 2 ? 276 : 280;
    unsigned char* stream = malloc(packed);
    unsigned char* records = malloc(size);
    uLongf inflated = size;
    if (stream == NULL || records == NULL || fseek(file, headerSize, SEEK_SET) != 0 ||
        fread(stream, 1, packed, file) != packed ||
        uncompress(records, &inflated, stream, packed) != Z_OK)
        return 2;
    size_t wanted = strlen(argv[2]);
    size_t numbers = version >= 4 ? 24 : 20;
    const unsigned char* p = records;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = number(p);
        const unsigned char* name = p + 4;
        size_t n = 0;
        while (n < wanted && n < length && tolower(name[n]) == tolower((unsigned char)argv[2][n]))
            ++n;
        if (n == wanted) return 0;
        p = name + length + numbers;
    }
    return 1;
}
