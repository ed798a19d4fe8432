#include "host/event.h"

namespace mrvhost {

Ref<Event> Event::parameter_change(Mrv::IParameter* parameter, Mrv::IDatatype* proposed) {
    Ref<Event> event = Ref<Event>::adopt(new Event());
    event->kind_ = Mrv::EventParameterChange;
    event->parameter_ = Ref<Mrv::IParameter>(parameter);
    event->proposed_ = Ref<Mrv::IDatatype>(proposed);
    return event;
}

Ref<Event> Event::query(Mrv::int32 code, Mrv::int64 value) {
    Ref<Event> event = Ref<Event>::adopt(new Event());
    event->kind_ = Mrv::EventUserInterface;
    event->code_ = code;
    event->value_ = value;
    return event;
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width * height), Mrv::DeviceColour{0, 0, 0}) {}

Ref<Canvas> Canvas::create(int width, int height) { return Ref<Canvas>::adopt(new Canvas(width, height)); }

bool Canvas::FillRectangle(const Mrv::Rectangle& r, Mrv::DeviceColour colour) {
    if (r.left < 0 || r.top < 0 || r.right > width_ || r.bottom > height_ || r.right < r.left || r.bottom < r.top)
        return false;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) pixels_[static_cast<std::size_t>(y * width_ + x)] = colour;
    ++fills_;
    return true;
}

}  // namespace mrvhost
