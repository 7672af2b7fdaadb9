// Stand-in for the host's basic suite: the one function table every other
// suite is acquired through, by name and version.
#pragma once

#include "A.h"

#define SPAPI
typedef A_long SPErr;
enum { kSPNoError = 0 };

typedef struct SPBasicSuite {
    SPAPI SPErr (*AcquireSuite)(const char *name, A_long version, const void **suite);
    SPAPI SPErr (*ReleaseSuite)(const char *name, A_long version);
    SPAPI A_Boolean (*IsEqual)(const char *token1, const char *token2);
    SPAPI SPErr (*AllocateBlock)(size_t size, void **block);
    SPAPI SPErr (*FreeBlock)(void *block);
    SPAPI SPErr (*ReallocateBlock)(void *block, size_t newSize, void **newblock);
    SPAPI SPErr (*Undefined)(void);
} SPBasicSuite;
