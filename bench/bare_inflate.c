/* The least that writing out one compressed entry can cost, as a yardstick for pak cat: read
 * the entry's zlib stream whole, inflate it with zlib into one block, write the block to
 * standard output. No directory, no lookup, no checks.
 *
 * Usage: bare_inflate ARCHIVE OFFSET PACKED UNPACKED   exit 0 when the stream inflated to
 * UNPACKED bytes and was written, 2 otherwise.
 * Built by read_path.py: cc -O2 -o bare_inflate bare_inflate.c -lz
 */
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    long offset = atol(argv[2]);
    size_t packed = strtoul(argv[3], NULL, 10), unpacked = strtoul(argv[4], NULL, 10);
    FILE* file = fopen(argv[1], "rb");
    unsigned char* stream = malloc(packed);
    unsigned char* data = malloc(unpacked);
    uLongf inflated = unpacked;
    if (file == NULL || stream == NULL || data == NULL || fseek(file, offset, SEEK_SET) != 0 ||
        fread(stream, 1, packed, file) != packed ||
        uncompress(data, &inflated, stream, packed) != Z_OK || inflated != unpacked ||
        fwrite(data, 1, unpacked, stdout) != unpacked || fflush(stdout) != 0)
        return 2;
    return 0;
}
