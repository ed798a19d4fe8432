// The host's datatype objects and their shapes, created by id; their
// text and JSON forms are in datatype_codecs.cpp.
#include "host/datatypes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <boost/algorithm/string.hpp>

namespace mrvhost {
namespace {

using Mrv::int32;

// ---- shapes -------------------------------------------------------------------

template <class I>
class MatrixShape : public Object<I> {
public:
    MatrixShape(const char* class_id, int32 rows, int32 columns) : class_id_(class_id), rows_(rows), columns_(columns) {}
    const char* GetCatalogId() const override { return "kernel"; }
    const char* GetClassId() const override { return class_id_; }
    bool Equals(const Mrv::IInitInfo* other) const override {
        auto* shape = Mrv::interface_cast<Mrv::IMatrixInitInfo>(const_cast<Mrv::IInitInfo*>(other));
        return shape && std::string(other->GetClassId()) == class_id_ && shape->GetRows() == rows_ &&
               shape->GetColumns() == columns_;
    }
    void Apply(Mrv::IDatatype* target) const override;
    void SetShape(int32 rows, int32 columns) override {
        if (rows < 0 || columns < 0) throw_logic("A matrix shape cannot be negative.\n");
        rows_ = rows;
        columns_ = columns;
    }
    int32 GetRows() const override { return rows_; }
    int32 GetColumns() const override { return columns_; }

private:
    const char* class_id_;
    int32 rows_, columns_;
};

class LabelledSetShape : public Object<Mrv::ILabelledSetInitInfo> {
public:
    const char* GetCatalogId() const override { return "kernel"; }
    const char* GetClassId() const override { return "labeled_set"; }
    bool Equals(const Mrv::IInitInfo* other) const override {
        auto* shape = Mrv::interface_cast<Mrv::ILabelledSetInitInfo>(const_cast<Mrv::IInitInfo*>(other));
        return shape && shape->GetElementRows() == rows_ && shape->GetElementColumns() == columns_;
    }
    void Apply(Mrv::IDatatype* target) const override {
        convert_or_throw<Mrv::ILabelledSet>(target)->Reinit(rows_, columns_);
    }
    void SetElementType(const char* catalog_id, const char* class_id) override {
        element_catalog_ = catalog_id ? catalog_id : "";
        element_class_ = class_id ? class_id : "";
    }
    void SetElementShape(int32 rows, int32 columns) override {
        rows_ = rows;
        columns_ = columns;
    }
    int32 GetElementRows() const override { return rows_; }
    int32 GetElementColumns() const override { return columns_; }

private:
    std::string element_catalog_ = "kernel", element_class_ = "double-matrix";
    int32 rows_ = 0, columns_ = 0;
};

class TemporalShape : public Object<Mrv::ITemporalDataInitInfo> {
public:
    const char* GetCatalogId() const override { return "base"; }
    const char* GetClassId() const override { return "temporal_data"; }
    bool Equals(const Mrv::IInitInfo* other) const override {
        auto* shape = dynamic_cast<const TemporalShape*>(other);
        return shape && shape->rate_ == rate_ && shape->samples_ == samples_ && shape->channels_ == channels_ &&
               shape->minimum_ == minimum_ && shape->maximum_ == maximum_;
    }
    void Apply(Mrv::IDatatype* target) const override;
    void SetSampleRate(double rate) override { rate_ = rate; }
    void SetSampleCount(int32 samples) override { samples_ = samples; }
    void SetChannelCount(int32 channels) override { channels_ = channels; }
    void SetValueRange(double minimum, double maximum) override {
        minimum_ = minimum;
        maximum_ = maximum;
    }
    int32 GetSampleCount() const override { return samples_; }
    int32 GetChannelCount() const override { return channels_; }
    double rate() const { return rate_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }

private:
    double rate_ = 0.0, minimum_ = 0.0, maximum_ = 0.0;
    int32 samples_ = 0, channels_ = 0;
};

// ---- datatypes -------------------------------------------------------------------

template <class I>
class Datatype : public Object<I> {
public:
    Datatype(const char* catalog_id, const char* class_id) : catalog_id_(catalog_id), class_id_(class_id) {}
    const char* GetCatalogId() const override { return catalog_id_; }
    const char* GetClassId() const override { return class_id_; }
    Mrv::TimeStamp GetTimeStamp() const override { return time_; }
    void SetTimeStamp(Mrv::TimeStamp time) override { time_ = time; }
    Mrv::IInitInfo* CreateInitInfo() const override { return nullptr; }

protected:
    // The source as this very class, or a cast error.
    template <class Self>
    static const Self& same_class(const Mrv::IDatatype* other) {
        auto* self = dynamic_cast<const Self*>(other);
        if (!self) throw_cast();
        return *self;
    }

private:
    const char* catalog_id_;
    const char* class_id_;
    Mrv::TimeStamp time_ = 0;
};

bool same_double(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

template <class I, class T>
class Scalar : public Datatype<I> {
public:
    explicit Scalar(const char* class_id) : Datatype<I>("kernel", class_id) {}
    T GetValue() const override { return value_; }
    void SetValue(T value) override { value_ = value; }
    void CopyFrom(const Mrv::IDatatype* source) override { value_ = this->template same_class<Scalar>(source).value_; }
    bool Equals(const Mrv::IDatatype* other) const override {
        auto* same = dynamic_cast<const Scalar*>(other);
        if (!same) return false;
        if constexpr (std::is_floating_point_v<T>) return same_double(value_, same->value_);
        else return value_ == same->value_;
    }

private:
    T value_{};
};

class String : public Datatype<Mrv::IString> {
public:
    String() : Datatype("kernel", "string") {}
    const char* GetValue() const override { return value_.c_str(); }
    void SetValue(const char* value) override { value_ = value ? value : ""; }
    void CopyFrom(const Mrv::IDatatype* source) override { value_ = same_class<String>(source).value_; }
    bool Equals(const Mrv::IDatatype* other) const override {
        auto* same = dynamic_cast<const String*>(other);
        return same && same->value_ == value_;
    }

private:
    std::string value_;
};

class Trigger : public Datatype<Mrv::ITrigger> {
public:
    Trigger() : Datatype("kernel", "trigger") {}
    void CopyFrom(const Mrv::IDatatype* source) override { same_class<Trigger>(source); }
    // A firing is always news.
    bool Equals(const Mrv::IDatatype*) const override { return false; }
};

// Parses one matrix field; accepts the non-finite spellings in any case.
template <class T>
bool parse_field(const std::string& field, T& value) {
    if constexpr (std::is_floating_point_v<T>) {
        // strtod reads "nan", "inf" and "infinity" in any case, signed.
        const char* begin = field.c_str();
        char* end = nullptr;
        value = std::strtod(begin, &end);
        return end != begin && end == begin + field.size();
    } else {
        const char* begin = field.c_str();
        char* end = nullptr;
        errno = 0;
        const long long parsed = std::strtoll(begin, &end, 10);
        if (end == begin || end != begin + field.size() || errno == ERANGE || parsed < std::numeric_limits<T>::min() ||
            parsed > std::numeric_limits<T>::max())
            return false;
        value = static_cast<T>(parsed);
        return true;
    }
}

template <class I, class T>
class Matrix : public Datatype<I> {
public:
    explicit Matrix(const char* class_id) : Datatype<I>("kernel", class_id) {}
    int32 GetHeight() const override { return rows_; }
    int32 GetWidth() const override { return columns_; }
    T GetAt(int32 row, int32 column) const override { return values_[index(row, column)]; }
    void SetAt(int32 row, int32 column, T value) override { values_[index(row, column)] = value; }
    const T* GetReadPointer() const override { return values_.data(); }
    T* GetWritePointer() override { return values_.data(); }
    void Reinit(int32 rows, int32 columns) override {
        if (rows < 0 || columns < 0) throw_logic("A matrix shape cannot be negative.\n");
        rows_ = rows;
        columns_ = columns;
        values_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), T{});
    }
    void SetAll(T value) override { std::fill(values_.begin(), values_.end(), value); }
    void Free() override {
        rows_ = columns_ = 0;
        std::vector<T>().swap(values_);
    }
    bool ReadFromText(const char* text) override {
        std::vector<T> parsed;
        int32 rows = 0, columns = -1;
        std::istringstream lines(text ? text : "");
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            boost::algorithm::split(fields, line, boost::algorithm::is_any_of(" \t\r"), boost::algorithm::token_compress_on);
            fields.erase(std::remove(fields.begin(), fields.end(), std::string()), fields.end());
            if (fields.empty()) continue;
            if (columns >= 0 && static_cast<int32>(fields.size()) != columns) return false;
            columns = static_cast<int32>(fields.size());
            for (const auto& field : fields) {
                T value{};
                if (!parse_field(field, value)) return false;
                parsed.push_back(value);
            }
            ++rows;
        }
        rows_ = rows;
        columns_ = columns < 0 ? 0 : columns;
        values_ = std::move(parsed);
        return true;
    }
    void CopyFrom(const Mrv::IDatatype* source) override {
        const Matrix& other = this->template same_class<Matrix>(source);
        rows_ = other.rows_;
        columns_ = other.columns_;
        values_ = other.values_;
    }
    bool Equals(const Mrv::IDatatype* other) const override {
        auto* same = dynamic_cast<const Matrix*>(other);
        if (!same || same->rows_ != rows_ || same->columns_ != columns_) return false;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            if constexpr (std::is_floating_point_v<T>) {
                if (!same_double(values_[i], same->values_[i])) return false;
            } else if (values_[i] != same->values_[i]) {
                return false;
            }
        }
        return true;
    }
    Mrv::IInitInfo* CreateInitInfo() const override;

private:
    std::size_t index(int32 row, int32 column) const {
        if (row < 0 || row >= rows_) throw_range(rows_, row);
        if (column < 0 || column >= columns_) throw_range(columns_, column);
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) + static_cast<std::size_t>(column);
    }

    int32 rows_ = 0, columns_ = 0;
    std::vector<T> values_;
};

class DoubleMatrix : public Matrix<Mrv::IDoubleMatrix, double> {
public:
    DoubleMatrix() : Matrix("double-matrix") {}
    void DivideAll(double divisor) override {
        double* data = GetWritePointer();
        for (int32 i = 0, n = GetHeight() * GetWidth(); i < n; ++i) data[i] /= divisor;
    }
};

class IntMatrix : public Matrix<Mrv::IIntMatrix, int32> {
public:
    IntMatrix() : Matrix("int-matrix") {}
};

template <class I, class T>
Mrv::IInitInfo* Matrix<I, T>::CreateInitInfo() const {
    if constexpr (std::is_same_v<T, double>)
        return new MatrixShape<Mrv::IDoubleMatrixInitInfo>("double-matrix", rows_, columns_);
    else
        return new MatrixShape<Mrv::IIntMatrixInitInfo>("int-matrix", rows_, columns_);
}

template <class I>
void MatrixShape<I>::Apply(Mrv::IDatatype* target) const {
    if (std::string(class_id_) == "double-matrix") convert_or_throw<Mrv::IDoubleMatrix>(target)->Reinit(rows_, columns_);
    else convert_or_throw<Mrv::IIntMatrix>(target)->Reinit(rows_, columns_);
}

class LabelledSet : public Datatype<Mrv::ILabelledSet> {
public:
    LabelledSet() : Datatype("kernel", "labeled_set") {}
    ~LabelledSet() override { Clear(); }
    void Clear() override {
        for (auto& item : items_) item.second->Release();
        items_.clear();
    }
    void Add(const char* name, const Mrv::IDoubleMatrix* element) override {
        if (!element) throw_logic("Null pointer to datatype.\n");
        auto* copy = new DoubleMatrix();
        copy->CopyFrom(element);
        items_.emplace_back(name ? name : "", copy);
    }
    void Reinit(int32 rows, int32 columns) override {
        Clear();
        rows_ = rows;
        columns_ = columns;
    }
    int32 GetCount() const override { return static_cast<int32>(items_.size()); }
    const char* GetName(int32 index) const override { return at(index).first.c_str(); }
    const Mrv::IDoubleMatrix* GetItem(int32 index) const override { return at(index).second; }
    void CopyFrom(const Mrv::IDatatype* source) override {
        const LabelledSet& other = same_class<LabelledSet>(source);
        if (&other == this) return;
        Reinit(other.rows_, other.columns_);
        for (const auto& item : other.items_) Add(item.first.c_str(), item.second);
    }
    bool Equals(const Mrv::IDatatype* other) const override {
        auto* same = dynamic_cast<const LabelledSet*>(other);
        if (!same || same->items_.size() != items_.size() || same->rows_ != rows_ || same->columns_ != columns_)
            return false;
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].first != same->items_[i].first || !items_[i].second->Equals(same->items_[i].second))
                return false;
        return true;
    }
    Mrv::IInitInfo* CreateInitInfo() const override {
        auto* shape = new LabelledSetShape();
        shape->SetElementShape(rows_, columns_);
        return shape;
    }

private:
    const std::pair<std::string, DoubleMatrix*>& at(int32 index) const {
        if (index < 0 || index >= GetCount()) throw_range(GetCount(), index);
        return items_[static_cast<std::size_t>(index)];
    }
    int32 rows_ = 0, columns_ = 0;
    std::vector<std::pair<std::string, DoubleMatrix*>> items_;
};

class Point : public Datatype<Mrv::IPoint2DInt> {
public:
    Point() : Datatype("base", "point_2d_int") {}
    int32 GetX() const override { return x_; }
    int32 GetY() const override { return y_; }
    void SetX(int32 x) override { x_ = x; }
    void SetY(int32 y) override { y_ = y; }
    void CopyFrom(const Mrv::IDatatype* source) override {
        const Point& other = same_class<Point>(source);
        x_ = other.x_;
        y_ = other.y_;
    }
    bool Equals(const Mrv::IDatatype* other) const override {
        auto* same = dynamic_cast<const Point*>(other);
        return same && same->x_ == x_ && same->y_ == y_;
    }

private:
    int32 x_ = 0, y_ = 0;
};

class Temporal : public Datatype<Mrv::ITemporalData> {
public:
    Temporal() : Datatype("base", "temporal_data") {}
    int32 GetSampleCount() const override { return samples_; }
    int32 GetChannelCount() const override { return channels_; }
    double* GetChannel(int32 channel) override {
        if (channel < 0 || channel >= channels_) return nullptr;
        return values_.data() + static_cast<std::size_t>(channel) * static_cast<std::size_t>(samples_);
    }
    double rate() const { return rate_; }
    void reshape(int32 channels, int32 samples, double rate) {
        channels_ = channels;
        samples_ = samples;
        rate_ = rate;
        values_.assign(static_cast<std::size_t>(samples_) * static_cast<std::size_t>(channels_), 0.0);
    }
    void reshape(const TemporalShape& shape) {
        samples_ = shape.GetSampleCount();
        channels_ = shape.GetChannelCount();
        rate_ = shape.rate();
        minimum_ = shape.minimum();
        maximum_ = shape.maximum();
        values_.assign(static_cast<std::size_t>(samples_) * static_cast<std::size_t>(channels_), 0.0);
    }
    void CopyFrom(const Mrv::IDatatype* source) override {
        const Temporal& other = same_class<Temporal>(source);
        samples_ = other.samples_;
        channels_ = other.channels_;
        rate_ = other.rate_;
        minimum_ = other.minimum_;
        maximum_ = other.maximum_;
        values_ = other.values_;
    }
    bool Equals(const Mrv::IDatatype* other) const override {
        auto* same = dynamic_cast<const Temporal*>(other);
        if (!same || same->samples_ != samples_ || same->channels_ != channels_) return false;
        for (std::size_t i = 0; i < values_.size(); ++i)
            if (!same_double(values_[i], same->values_[i])) return false;
        return true;
    }
    Mrv::IInitInfo* CreateInitInfo() const override {
        auto* shape = new TemporalShape();
        shape->SetSampleRate(rate_);
        shape->SetSampleCount(samples_);
        shape->SetChannelCount(channels_);
        shape->SetValueRange(minimum_, maximum_);
        return shape;
    }

private:
    int32 samples_ = 0, channels_ = 0;
    double rate_ = 0.0, minimum_ = 0.0, maximum_ = 0.0;
    std::vector<double> values_;
};

void TemporalShape::Apply(Mrv::IDatatype* target) const {
    auto* temporal = dynamic_cast<Temporal*>(target);
    if (!temporal) throw_cast();
    temporal->reshape(*this);
}

using Double = Scalar<Mrv::IDouble, double>;
using Int = Scalar<Mrv::IInt, int32>;
using Bool = Scalar<Mrv::IBool, bool>;

}  // namespace

const std::vector<std::string>& known_datatypes() {
    static const std::vector<std::string> classes = {"double",     "int",        "bool",         "string",
                                                     "trigger",    "double-matrix", "int-matrix", "labeled_set",
                                                     "point_2d_int", "temporal_data"};
    return classes;
}

std::string catalog_of(const std::string& class_id) {
    return class_id == "point_2d_int" || class_id == "temporal_data" ? "base" : "kernel";
}

bool is_known_datatype(const std::string& catalog_id, const std::string& class_id) {
    const auto& known = known_datatypes();
    return std::find(known.begin(), known.end(), class_id) != known.end() && catalog_of(class_id) == catalog_id;
}

double sample_rate(const Mrv::ITemporalData& value) {
    auto* temporal = dynamic_cast<const Temporal*>(&value);
    return temporal ? temporal->rate() : 0.0;
}

bool parse_double(const std::string& text, double& value) { return parse_field(text, value); }

void reshape_temporal(Mrv::ITemporalData& value, Mrv::int32 channels, Mrv::int32 samples, double rate) {
    auto* temporal = dynamic_cast<Temporal*>(&value);
    if (!temporal) throw_cast();
    temporal->reshape(channels, samples, rate);
}

Mrv::IDatatype* create_datatype(const std::string& catalog_id, const std::string& class_id) {
    if (catalog_id == "kernel") {
        if (class_id == "double") return new Double("double");
        if (class_id == "int") return new Int("int");
        if (class_id == "bool") return new Bool("bool");
        if (class_id == "string") return new String();
        if (class_id == "trigger") return new Trigger();
        if (class_id == "double-matrix") return new DoubleMatrix();
        if (class_id == "int-matrix") return new IntMatrix();
        if (class_id == "labeled_set") return new LabelledSet();
    } else if (catalog_id == "base") {
        if (class_id == "point_2d_int") return new Point();
        if (class_id == "temporal_data") return new Temporal();
    }
    throw_logic("Catalog error: failed to instantiate datatype.\n");
}

Mrv::IInitInfo* create_init_info(const std::string& catalog_id, const std::string& class_id) {
    if (catalog_id == "kernel") {
        if (class_id == "double-matrix") return new MatrixShape<Mrv::IDoubleMatrixInitInfo>("double-matrix", 0, 0);
        if (class_id == "int-matrix") return new MatrixShape<Mrv::IIntMatrixInitInfo>("int-matrix", 0, 0);
        if (class_id == "labeled_set") return new LabelledSetShape();
    } else if (catalog_id == "base" && class_id == "temporal_data") {
        return new TemporalShape();
    }
    throw_logic("Catalog error: failed to instantiate datatype initinfo.\n");
}

}  // namespace mrvhost
