// The host's live-object count, for tests that check nothing leaks.
#pragma once

#include "host/object.h"
