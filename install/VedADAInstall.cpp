// CVedADA's install check. Runs on the page's thread.
#include "control/VedADA.h"

// Not built yet: the check always passes.
bool CVedADA::EnsureInstalled() { return true; }
bool CVedADA::EnsureSpInstalled() { return true; }
