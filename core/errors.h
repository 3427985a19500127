// The error classes moved to the base layer; this name stays for code written against it.
#pragma once

#include "base/errors.h"
