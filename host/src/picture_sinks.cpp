// host.image_sink and host.plot_sink: the latest value drawn as a picture.
#include <memory>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/picture.h"
#include "host_block_kit.h"

namespace mrvhost {
namespace {

// Sinks that draw the latest value as a PNG picture: at the end of the run
// and, with EveryTicks, every so many ticks. Each picture replaces the last
// in one step, so a viewer never sees half of one.
class PictureSink : public Consumer {
public:
    using Consumer::Consumer;
    std::string progress() const override {
        return std::to_string(pictures_) + (pictures_ == 1 ? " picture written" : " pictures written");
    }

protected:
    void declare(Signature& s) override {
        declare_file(s, "The PNG file written, relative to the patch file", "PNG files (*.png)|*.png||", true);
        add_parameter(s, "EveryTicks", "Every ticks",
                      "Also draw a new value once this many ticks have passed since the last picture (the first at "
                      "once); 0 draws only when the run ends",
                      "int");
    }
    bool init() override {
        check_output_file(file_parameter());
        if (int_parameter("EveryTicks") < 0) throw std::runtime_error("EveryTicks must be from 0");
        pictures_ = 0;
        drawn_at_ = 0;
        holding_ = false;
        return Consumer::init();
    }
    void consume(Mrv::IDatatype& value) override {
        take(value);
        holding_ = true;
        // The sink runs only on new values, so "every N ticks" counts from
        // the last picture.
        const int every = int_parameter("EveryTicks");
        if (every > 0 && (pictures_ == 0 || tick() - drawn_at_ >= every)) draw_picture();
    }
    void done() override {
        if (holding_) draw_picture();
        holding_ = false;
    }
    // Keeps what the next picture needs of the value.
    virtual void take(Mrv::IDatatype& value) = 0;
    virtual void draw(const std::string& path) = 0;

private:
    void draw_picture() {
        draw(file_parameter());
        ++pictures_;
        drawn_at_ = tick();
    }
    long pictures_ = 0;
    long long drawn_at_ = 0;
    bool holding_ = false;
};

MatrixView view_of(const Mrv::IDatatype& value) {
    MatrixView view;
    if (auto* reals = Mrv::interface_cast<Mrv::IDoubleMatrix>(const_cast<Mrv::IDatatype*>(&value))) {
        view.reals = reals->GetReadPointer();
        view.rows = reals->GetHeight();
        view.cols = reals->GetWidth();
    } else {
        auto* ints = convert_or_throw<Mrv::IIntMatrix>(const_cast<Mrv::IDatatype*>(&value));
        view.ints = ints->GetReadPointer();
        view.rows = ints->GetHeight();
        view.cols = ints->GetWidth();
    }
    if (view.rows <= 0 || view.cols <= 0) view.rows = view.cols = 0;
    return view;
}

// A heatmap of a matrix (or of each element of a labelled set), its planes
// side by side, or the index of each cell's largest plane.
class ImageSink : public PictureSink {
public:
    using PictureSink::PictureSink;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "The matrix or labelled set drawn", "kernel", datatype_.c_str(), true, false, 0);
        PictureSink::declare(s);
        add_parameter(s, "Planes", "Planes",
                      "The matrix is this many planes stacked vertically, drawn side by side", "int");
        add_parameter(s, "Mode", "Mode",
                      "\"values\": a viridis heatmap with its colour bar; \"argmax\": each cell's largest plane "
                      "in a categorical palette, ties grey",
                      "string");
        add_parameter(s, "PlaneNames", "Plane names",
                      "Comma-separated names of the planes, e.g. \"setosa,versicolor,virginica\"; empty: plane 0, "
                      "plane 1, ...",
                      "string");
        set_int(s, "Planes", 1);
        set_string(s, "Mode", "values");
    }
    bool init() override {
        const std::string mode = string_parameter("Mode");
        const int planes = int_parameter("Planes");
        if (mode != "values" && mode != "argmax")
            throw std::runtime_error("unknown Mode \"" + mode + "\" (values or argmax)");
        if (planes < 1) throw std::runtime_error("Planes must be from 1");
        if (mode == "argmax" && planes < 2) throw std::runtime_error("Mode \"argmax\" needs Planes from 2");
        planes_ = planes;
        argmax_ = mode == "argmax";
        return PictureSink::init();
    }
    // A value that cannot be drawn leaves the last picture's value as it was.
    void take(Mrv::IDatatype& value) override {
        auto next = std::make_unique<Heatmap>(planes_, argmax_);
        std::vector<std::string> names;
        const std::string listed = string_parameter("PlaneNames");
        if (!listed.empty()) boost::algorithm::split(names, listed, boost::algorithm::is_any_of(","));
        for (auto& name : names) boost::algorithm::trim(name);
        next->name_planes(std::move(names));
        if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
            for (int i = 0; i < set->GetCount(); ++i) next->add(set->GetName(i), view_of(*set->GetItem(i)));
        } else {
            next->add("", view_of(value));
        }
        heatmap_ = std::move(next);
    }
    void draw(const std::string& path) override { HeatmapPicture(*heatmap_, name()).write(path); }

private:
    std::unique_ptr<Heatmap> heatmap_;
    int planes_ = 1;
    bool argmax_ = false;
};

// A bar or line chart of a vector, or of each row of a matrix, over the
// optional X values.
class PlotSink : public PictureSink {
public:
    using PictureSink::PictureSink;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "A row or column vector, or a matrix whose rows are series", "kernel",
                   "double-matrix", true, false, 0);
        s.AddInput("X", "X values", "Optional x value of each point (e.g. a histogram's bin centres)", "kernel",
                   "double-matrix", false, false, 0);
        PictureSink::declare(s);
        add_parameter(s, "Style", "Style", "\"bar\" or \"line\"", "string");
        set_string(s, "Style", "bar");
    }
    bool init() override {
        const std::string style = string_parameter("Style");
        if (style != "bar" && style != "line") throw std::runtime_error("unknown Style \"" + style + "\" (bar or line)");
        chart_ = Chart{};
        chart_.title = name();
        chart_.bars = style == "bar";
        return PictureSink::init();
    }
    void take(Mrv::IDatatype& value) override {
        const MatrixView matrix = view_of(value);
        chart_.series.clear();
        if (matrix.rows == 1 || matrix.cols == 1) {
            chart_.series.emplace_back(matrix.reals, matrix.reals + static_cast<std::size_t>(matrix.rows) * matrix.cols);
        } else {
            for (int r = 0; r < matrix.rows; ++r)
                chart_.series.emplace_back(matrix.reals + static_cast<std::size_t>(r) * matrix.cols,
                                           matrix.reals + static_cast<std::size_t>(r + 1) * matrix.cols);
        }
    }
    // The X values are read as the picture is drawn: a source may send them
    // once, before or after the series.
    void draw(const std::string& path) override {
        chart_.x.clear();
        Mrv::IDatatype* xs = input("X");
        const MatrixView x = xs ? view_of(*xs) : MatrixView{};
        const std::size_t points = chart_.series.empty() ? 0 : chart_.series.front().size();
        if (x.rows > 0) {
            if (x.rows != 1 && x.cols != 1) throw std::runtime_error("X must be a row or column vector");
            if (static_cast<std::size_t>(x.rows) * static_cast<std::size_t>(x.cols) != points)
                throw std::runtime_error(std::to_string(x.rows * x.cols) + " X values for " + std::to_string(points) +
                                         " points");
            chart_.x.assign(x.reals, x.reals + points);
        }
        write_chart(chart_, path);
    }

private:
    Chart chart_;
};

}  // namespace

std::vector<HostBlockClass> picture_sink_classes() {
    return {
        {"host.image_sink", "Draws the latest matrix or labelled set as a PNG heatmap with a colour bar, or each "
                            "cell's largest plane (Mode argmax), when the run ends and every EveryTicks ticks",
         {"double-matrix", "int-matrix", "labeled_set"}, make<ImageSink>},
        {"host.plot_sink", "Draws the latest vector, or each row of a matrix, as a PNG bar or line chart over "
                           "the optional X values, when the run ends and every EveryTicks ticks",
         {"double-matrix"}, make<PlotSink>},
    };
}

}  // namespace mrvhost
