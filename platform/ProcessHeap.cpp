#include "platform/ProcessHeap.h"

#include <malloc.h>

void KeepFreedPicturesInHeap() {
    // Blocks up to 32 MB (a 4K RGBA picture) come from the heap, and the heap
    // gives memory back only once 256 MB at its top are free.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
