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

// ---- JSON --------------------------------------------------------------------

double double_from_json(const nlohmann::json& json) {
    if (json.is_number()) return json.get<double>();
    if (json.is_string()) {
        double value = 0.0;
        if (parse_field(json.get<std::string>(), value)) return value;
    }
    throw std::invalid_argument("expected a number, not " + json_excerpt(json));
}

int32 int32_from_json(const nlohmann::json& json) {
    if (!json.is_number_integer()) throw std::invalid_argument("expected an integer, not " + json_excerpt(json));
    if (json.is_number_unsigned() ? json.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<int32>::max())
                                  : (json.get<std::int64_t>() < std::numeric_limits<int32>::min() ||
                                     json.get<std::int64_t>() > std::numeric_limits<int32>::max()))
        throw std::invalid_argument("integer out of range: " + json_excerpt(json));
    return static_cast<int32>(json.get<std::int64_t>());
}

nlohmann::json double_to_json(double value) {
    if (std::isfinite(value)) return value;
    return format_double(value);
}

template <class M, class T>
nlohmann::json matrix_to_json(const M& matrix) {
    nlohmann::json rows = nlohmann::json::array();
    for (int32 r = 0; r < matrix.GetHeight(); ++r) {
        nlohmann::json row = nlohmann::json::array();
        for (int32 c = 0; c < matrix.GetWidth(); ++c) {
            if constexpr (std::is_same_v<T, double>) row.push_back(double_to_json(matrix.GetAt(r, c)));
            else row.push_back(matrix.GetAt(r, c));
        }
        rows.push_back(row);
    }
    return rows;
}

template <class M, class T>
void matrix_from_json(M& matrix, const nlohmann::json& json) {
    if (!json.is_array()) throw std::invalid_argument("expected an array of rows, not " + json_excerpt(json));
    const int32 rows = static_cast<int32>(json.size());
    int32 columns = -1;
    std::vector<T> values;
    for (const auto& row : json) {
        const nlohmann::json cells = row.is_array() ? row : nlohmann::json::array({row});
        if (columns >= 0 && static_cast<int32>(cells.size()) != columns)
            throw std::invalid_argument("matrix rows differ in length");
        columns = static_cast<int32>(cells.size());
        for (const auto& cell : cells) {
            if constexpr (std::is_same_v<T, double>) {
                values.push_back(double_from_json(cell));
            } else {
                values.push_back(int32_from_json(cell));
            }
        }
    }
    matrix.Reinit(rows, columns < 0 ? 0 : columns);
    std::copy(values.begin(), values.end(), matrix.GetWritePointer());
}

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

std::string json_excerpt(const nlohmann::json& value, std::size_t limit) {
    std::string text;
    // Containers are walked only until the text passes the limit, so neither
    // a huge nor a deeply nested value is ever written out whole.
    std::function<void(const nlohmann::json&)> append = [&](const nlohmann::json& item) {
        if (text.size() > limit) return;
        if (item.is_array() || item.is_object()) {
            text += item.is_array() ? "[" : "{";
            for (auto it = item.begin(); it != item.end() && text.size() <= limit; ++it) {
                if (it != item.begin()) text += ",";
                if (item.is_object()) {
                    append(nlohmann::json(it.key()));
                    text += ":";
                }
                append(*it);
            }
            text += item.is_array() ? "]" : "}";
        } else if (item.is_string() && item.get_ref<const std::string&>().size() > limit) {
            text += nlohmann::json(item.get_ref<const std::string&>().substr(0, limit)).dump();
        } else {
            text += item.dump();
        }
    };
    append(value);
    if (text.size() > limit) text.resize(limit), text += "...";
    return text;
}

std::string nearest_name(const std::string& word, const std::vector<std::string>& candidates) {
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    // Only the beginning of a long word counts: messages quote no more.
    const std::string given = word.substr(0, 64);
    std::string best;
    std::size_t best_distance = std::numeric_limits<std::size_t>::max();
    for (const auto& candidate : candidates) {
        // Edit distance, one row at a time.
        std::vector<std::size_t> row(candidate.size() + 1);
        for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
        for (std::size_t i = 1; i <= given.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j < row.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                                   diagonal + (lower(given[i - 1]) == lower(candidate[j - 1]) ? 0 : 1)});
                diagonal = above;
            }
        }
        if (row.back() < best_distance) {
            best_distance = row.back();
            best = candidate;
        }
    }
    return best;
}

std::string unknown_key(const nlohmann::json& object, const std::vector<std::string>& known) {
    if (!object.is_object()) return "";
    for (const auto& item : object.items())
        if (std::find(known.begin(), known.end(), item.key()) == known.end())
            return "unknown key " + json_excerpt(item.key()) + " (the nearest known key is \"" +
                   nearest_name(item.key(), known) + "\")";
    return "";
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

std::string format_double(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string value_to_text(const Mrv::IDatatype& constant) {
    auto& value = const_cast<Mrv::IDatatype&>(constant);
    if (auto* d = Mrv::interface_cast<Mrv::IDouble>(&value)) return format_double(d->GetValue());
    if (auto* i = Mrv::interface_cast<Mrv::IInt>(&value)) return std::to_string(i->GetValue());
    if (auto* b = Mrv::interface_cast<Mrv::IBool>(&value)) return b->GetValue() ? "true" : "false";
    if (auto* s = Mrv::interface_cast<Mrv::IString>(&value)) return std::string("\"") + s->GetValue() + "\"";
    if (Mrv::interface_cast<Mrv::ITrigger>(&value)) return "(trigger)";
    std::string text;
    if (auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(&value)) {
        for (int32 r = 0; r < m->GetHeight(); ++r) {
            if (r) text += "\n";
            for (int32 c = 0; c < m->GetWidth(); ++c) text += (c ? " " : "") + format_double(m->GetAt(r, c));
        }
        return m->GetHeight() == 0 ? "(empty matrix)" : text;
    }
    if (auto* m = Mrv::interface_cast<Mrv::IIntMatrix>(&value)) {
        for (int32 r = 0; r < m->GetHeight(); ++r) {
            if (r) text += "\n";
            for (int32 c = 0; c < m->GetWidth(); ++c) text += (c ? " " : "") + std::to_string(m->GetAt(r, c));
        }
        return m->GetHeight() == 0 ? "(empty matrix)" : text;
    }
    if (auto* p = Mrv::interface_cast<Mrv::IPoint2DInt>(&value))
        return std::to_string(p->GetX()) + " " + std::to_string(p->GetY());
    if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
        for (int32 i = 0; i < set->GetCount(); ++i)
            text += std::string(i ? "\n" : "") + set->GetName(i) + ":\n" + value_to_text(*set->GetItem(i));
        return set->GetCount() == 0 ? "(empty set)" : text;
    }
    if (auto* t = Mrv::interface_cast<Mrv::ITemporalData>(&value)) {
        for (int32 ch = 0; ch < t->GetChannelCount(); ++ch) {
            if (ch) text += "\n";
            const double* samples = t->GetChannel(ch);
            for (int32 k = 0; k < t->GetSampleCount(); ++k) text += (k ? " " : "") + format_double(samples[k]);
        }
        return text;
    }
    return std::string("(") + value.GetClassId() + ")";
}

nlohmann::json value_to_json(const Mrv::IDatatype& constant) {
    auto& value = const_cast<Mrv::IDatatype&>(constant);
    if (auto* d = Mrv::interface_cast<Mrv::IDouble>(&value)) return double_to_json(d->GetValue());
    if (auto* i = Mrv::interface_cast<Mrv::IInt>(&value)) return i->GetValue();
    if (auto* b = Mrv::interface_cast<Mrv::IBool>(&value)) return b->GetValue();
    if (auto* s = Mrv::interface_cast<Mrv::IString>(&value)) return s->GetValue();
    if (Mrv::interface_cast<Mrv::ITrigger>(&value)) return nullptr;
    if (auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(&value)) return matrix_to_json<Mrv::IDoubleMatrix, double>(*m);
    if (auto* m = Mrv::interface_cast<Mrv::IIntMatrix>(&value)) return matrix_to_json<Mrv::IIntMatrix, int32>(*m);
    if (auto* p = Mrv::interface_cast<Mrv::IPoint2DInt>(&value)) return nlohmann::json::array({p->GetX(), p->GetY()});
    if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
        nlohmann::json items = nlohmann::json::array();
        for (int32 i = 0; i < set->GetCount(); ++i)
            items.push_back({{"name", set->GetName(i)}, {"matrix", matrix_to_json<Mrv::IDoubleMatrix, double>(*set->GetItem(i))}});
        return items;
    }
    if (auto* t = Mrv::interface_cast<Mrv::ITemporalData>(&value)) {
        nlohmann::json channels = nlohmann::json::array();
        for (int32 ch = 0; ch < t->GetChannelCount(); ++ch) {
            nlohmann::json samples = nlohmann::json::array();
            for (int32 k = 0; k < t->GetSampleCount(); ++k) samples.push_back(double_to_json(t->GetChannel(ch)[k]));
            channels.push_back(samples);
        }
        return {{"rate", double_to_json(sample_rate(*t))}, {"channels", channels}};
    }
    return nullptr;
}

void value_from_json(Mrv::IDatatype& value, const nlohmann::json& json) {
    if (auto* d = Mrv::interface_cast<Mrv::IDouble>(&value)) return d->SetValue(double_from_json(json));
    if (auto* i = Mrv::interface_cast<Mrv::IInt>(&value)) return i->SetValue(int32_from_json(json));
    if (auto* b = Mrv::interface_cast<Mrv::IBool>(&value)) {
        if (!json.is_boolean()) throw std::invalid_argument("expected true or false, not " + json_excerpt(json));
        return b->SetValue(json.get<bool>());
    }
    if (auto* s = Mrv::interface_cast<Mrv::IString>(&value)) {
        if (!json.is_string()) throw std::invalid_argument("expected a string, not " + json_excerpt(json));
        return s->SetValue(json.get<std::string>().c_str());
    }
    if (Mrv::interface_cast<Mrv::ITrigger>(&value)) return;
    if (auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(&value)) return matrix_from_json<Mrv::IDoubleMatrix, double>(*m, json);
    if (auto* m = Mrv::interface_cast<Mrv::IIntMatrix>(&value)) return matrix_from_json<Mrv::IIntMatrix, int32>(*m, json);
    if (auto* p = Mrv::interface_cast<Mrv::IPoint2DInt>(&value)) {
        if (!json.is_array() || json.size() != 2) throw std::invalid_argument("expected [x, y], not " + json_excerpt(json));
        p->SetX(int32_from_json(json[0]));
        p->SetY(int32_from_json(json[1]));
        return;
    }
    if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
        if (!json.is_array()) throw std::invalid_argument("expected an array of {name, matrix}, not " + json_excerpt(json));
        Ref<DoubleMatrix> element = Ref<DoubleMatrix>::adopt(new DoubleMatrix());
        set->Clear();
        for (const auto& item : json) {
            if (!item.is_object() || !item.contains("name") || !item.contains("matrix") || !item["name"].is_string())
                throw std::invalid_argument("expected {\"name\": ..., \"matrix\": ...}, not " + json_excerpt(item));
            if (std::string unknown = unknown_key(item, {"name", "matrix"}); !unknown.empty())
                throw std::invalid_argument(unknown);
            matrix_from_json<Mrv::IDoubleMatrix, double>(*element, item["matrix"]);
            set->Add(item["name"].get<std::string>().c_str(), element.get());
        }
        return;
    }
    if (auto* t = dynamic_cast<Temporal*>(&value)) {
        const char* expected = "expected {\"rate\": R, \"channels\": [[samples], ...]}, not ";
        if (!json.is_object() || !json.contains("channels") || !json["channels"].is_array())
            throw std::invalid_argument(expected + json_excerpt(json));
        if (std::string unknown = unknown_key(json, {"rate", "channels"}); !unknown.empty())
            throw std::invalid_argument(unknown);
        const nlohmann::json& channels = json["channels"];
        const std::size_t samples = channels.empty() || !channels[0].is_array() ? 0 : channels[0].size();
        for (const auto& channel : channels)
            if (!channel.is_array() || channel.size() != samples)
                throw std::invalid_argument("every channel needs the same number of samples");
        const double rate = json.contains("rate") ? double_from_json(json["rate"]) : 0.0;
        t->reshape(static_cast<int32>(channels.size()), static_cast<int32>(samples), rate);
        for (std::size_t ch = 0; ch < channels.size(); ++ch)
            for (std::size_t k = 0; k < samples; ++k)
                t->GetChannel(static_cast<int32>(ch))[k] = double_from_json(channels[ch][k]);
        return;
    }
    throw std::invalid_argument(std::string("cannot read a value of class ") + value.GetClassId());
}

}  // namespace mrvhost
