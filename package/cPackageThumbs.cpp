#include "cPackage.h"

// Bringing the thumbnails of a package's images and videos up to date.

bool cPackage::UpdatePackageThumbs() { return true; }
