// Everything the SDK publishes.
#pragma once

#include "mrv/base.h"
#include "mrv/exceptions.h"
#include "mrv/datatypes.h"
#include "mrv/editing.h"
#include "mrv/signature.h"
#include "mrv/kernel.h"
#include "mrv/block.h"
#include "mrv/dll.h"
