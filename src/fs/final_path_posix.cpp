// The POSIX file layer offers the final path of a handle directly.
#include "fs/final_path.h"

void FinalPathEntryPoints(FinalPathAFn *ansi, FinalPathWFn *wide)
{
    *ansi = &GetFinalPathNameByHandleA;
    *wide = &GetFinalPathNameByHandleW;
}
