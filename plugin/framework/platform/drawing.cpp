#include "framework/platform/drawing.h"

#include <cmath>
#include <optional>

namespace Mrv {
namespace platform {
namespace {

std::optional<std::uint8_t> device_component(double fraction) {
    if (!(fraction >= 0.0 && fraction <= 1.0)) return std::nullopt;
    return static_cast<std::uint8_t>(std::lround(fraction * 255.0));
}

}  // namespace

brush_handle create_solid_brush(double red, double green, double blue) {
    const auto r = device_component(red), g = device_component(green), b = device_component(blue);
    if (!r || !g || !b) return nullptr;
    return brush_handle(new solid_brush{DeviceColour{*r, *g, *b}});
}

bool fill_rect(IDrawingDevice* device, const Rectangle& rectangle, const solid_brush& brush) {
    return device != nullptr && device->FillRectangle(rectangle, brush.colour);
}

}  // namespace platform
}  // namespace Mrv
