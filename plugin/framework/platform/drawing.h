// Solid brushes and rectangle fills, in place of GDI's brush objects.
#pragma once

#include <memory>

#include "mrv/block.h"

namespace Mrv {
namespace platform {

struct solid_brush {
    DeviceColour colour;
};
using brush_handle = std::unique_ptr<solid_brush>;

// Colour components are fractions in [0, 1]; anything else (NaN included)
// has no device colour, and the brush cannot be created (null result).
brush_handle create_solid_brush(double red, double green, double blue);

bool fill_rect(IDrawingDevice* device, const Rectangle& rectangle, const solid_brush& brush);

}  // namespace platform
}  // namespace Mrv
