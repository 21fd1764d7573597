#pragma once

#include "nativefiles.h"

#include <string>

// The folder a run, a dry run or an undo works in: opened once, at its start, and held to its
// end. Every script, every name the run makes, and the undo area with everything in it are
// reached from it, never by its path again, so that nobody who renames the folder, or one above
// it, can lead the run elsewhere. The path is walked one folder at a time, and a link on the way
// is followed only where mayFollowLink() allows it; otherwise 70, naming the link. 76 when it
// is not there. Throws FileError.
NativeFolder openRunFolder(const std::string &path);

// 70 unless `folder` is the folder whose scripts were listed, told by its identity `listed`:
// a list read by path may have been read from another folder than the one the path leads to now.
void checkListed(const NativeFolder &folder, const FileKey &listed);
