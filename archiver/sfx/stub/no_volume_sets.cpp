// The self-extracting program reads only its own file, never a set of volumes: the engine's
// file calls ask here, and no descriptor is ever a set's. Linking the real sets would pull the
// directory reader into a program that has to stay small.
#include "archiver/engine/unzip/volume_set.h"

namespace engine {

bool ReadFromVolumeSet(int, void*, size_t, uint64_t, ssize_t&) {
    return false;
}

bool VolumeSetSize(int, int64_t&) {
    return false;
}

void ForgetVolumeSet(int) {}

}  // namespace engine
