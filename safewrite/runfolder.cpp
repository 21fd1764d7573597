#include "runfolder.h"

#include "fileerror.h"
#include "recoverypolicy.h"

namespace nf = nativefiles;

NativeFolder openRunFolder(const std::string &path)
{
    return nf::openFolderWalking(path, mayFollowLink);
}

void checkListed(const NativeFolder &folder, const FileKey &listed)
{
    if (nf::identityOf(folder.file).key != listed)
        throw FileError::heldByAnotherProgram().about("la carpeta " + folder.path +
                                                      " ya no es la que se listó");
}
