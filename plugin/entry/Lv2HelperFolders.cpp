// Linked into the LV2 build step's helper, which loads the freshly built plug-in to write its
// Turtle files. The plug-in creates its data folders when it starts; this keeps them inside
// the build tree instead of /opt and the user's configuration folder.
#include <cstdlib>

namespace
{
const int redirected = setenv ("HALVEX_FOLDERS_ROOT", VELMORA_HELPER_FOLDERS_ROOT, 0);
}
