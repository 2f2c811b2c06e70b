#pragma once

#include <QString>

// A package identifier: the encoded parts folder, "^", the program name, all upper case.
using tPackageUID = QString;
