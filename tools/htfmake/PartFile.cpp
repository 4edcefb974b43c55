#include "PartFile.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

PartFile::~PartFile()
{
    if (!committed_)
        std::remove(path_.c_str());
}

bool PartFile::commit()
{
#ifdef _WIN32
    // rename() does not replace an existing file on Windows.
    committed_ = MoveFileExA(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    committed_ = std::rename(path_.c_str(), target_.c_str()) == 0;
#endif
    return committed_;
}
