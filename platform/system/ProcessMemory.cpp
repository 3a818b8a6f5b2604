#include "platform/system/ProcessMemory.h"

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ProcessMemory::GiveBackFree()
{
#if defined(__GLIBC__)
    // Freed memory inside the heap stays resident otherwise: glibc returns only its top.
    ::malloc_trim(0);
#endif
}
