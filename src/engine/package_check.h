// The whole package proven before it is used: the integrity check under
// the fault guard, so that a package that is damaged, or faults while it is
// read, is refused before anything is shown or written.
#pragma once

#include "package.h"

bool package_intact(const Package& package);
