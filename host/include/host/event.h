// Host events handed to a block, and a drawing device tests can inspect.
#pragma once

#include <vector>

#include "host/object.h"
#include "mrv/block.h"

namespace mrvhost {

class Event : public Object<Mrv::IEvent> {
public:
    static Ref<Event> parameter_change(Mrv::IParameter* parameter, Mrv::IDatatype* proposed);
    static Ref<Event> query(Mrv::int32 code, Mrv::int64 value = 0);

    Mrv::int32 GetKind() const override { return kind_; }
    Mrv::IParameter* GetParameter() override { return parameter_.get(); }
    Mrv::IDatatype* GetNewValue() override { return proposed_.get(); }
    Mrv::int32 GetQueryCode() const override { return code_; }
    Mrv::int64 GetQueryValue() const override { return value_; }
    void SetQueryValue(Mrv::int64 value) override { value_ = value; }
    void SetSize(const Mrv::UiSize& size) override { size_ = size; }
    Mrv::IDrawingDevice* GetDevice() override { return device_.get(); }
    Mrv::Rectangle GetRectangle(Mrv::int32 index) const override { return rectangles_[index == 0 ? 0 : 1]; }
    Mrv::int32 GetDrawValue(Mrv::int32 index) const override { return draw_values_[index == 0 ? 0 : 1]; }

    const Mrv::UiSize& size() const { return size_; }

private:
    Event() = default;
    Mrv::int32 kind_ = 0;
    Ref<Mrv::IParameter> parameter_;
    Ref<Mrv::IDatatype> proposed_;
    Mrv::int32 code_ = 0;
    Mrv::int64 value_ = 0;
    Mrv::UiSize size_{0, 0};
    Ref<Mrv::IDrawingDevice> device_;
    Mrv::Rectangle rectangles_[2] = {};
    Mrv::int32 draw_values_[2] = {0, 0};
};

// Pixels a block can fill; a rectangle reaching outside fails and fills nothing.
class Canvas : public Object<Mrv::IDrawingDevice> {
public:
    static Ref<Canvas> create(int width, int height);
    bool FillRectangle(const Mrv::Rectangle& rectangle, Mrv::DeviceColour colour) override;
    Mrv::DeviceColour pixel(int x, int y) const { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }
    int fill_count() const { return fills_; }

private:
    Canvas(int width, int height);
    int width_, height_;
    std::vector<Mrv::DeviceColour> pixels_;
    int fills_ = 0;
};

}  // namespace mrvhost
