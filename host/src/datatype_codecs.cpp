// Values as text and as patch-file JSON, and the message helpers the JSON
// readers share.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

#include "host/datatypes.h"
#include "host/names.h"

namespace mrvhost {
namespace {

using Mrv::int32;

double double_from_json(const nlohmann::json& json) {
    if (json.is_number()) return json.get<double>();
    if (json.is_string()) {
        double value = 0.0;
        if (parse_double(json.get<std::string>(), value)) return value;
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

std::string unknown_key(const nlohmann::json& object, const std::vector<std::string>& known) {
    if (!object.is_object()) return "";
    for (const auto& item : object.items())
        if (std::find(known.begin(), known.end(), item.key()) == known.end())
            return "unknown key " + json_excerpt(item.key()) + did_you_mean(item.key(), known, "keys");
    return "";
}

std::string format_double(double value) {
    std::string text;
    append_double(text, value);
    return text;
}

void append_double(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "nan";
    } else if (std::isinf(value)) {
        out += value > 0 ? "inf" : "-inf";
    } else {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(buffer, result.ptr);
    }
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
        const Ref<Mrv::IDatatype> created = Ref<Mrv::IDatatype>::adopt(create_datatype("kernel", "double-matrix"));
        auto* element = Mrv::interface_cast<Mrv::IDoubleMatrix>(created.get());
        set->Clear();
        for (const auto& item : json) {
            if (!item.is_object() || !item.contains("name") || !item.contains("matrix") || !item["name"].is_string())
                throw std::invalid_argument("expected {\"name\": ..., \"matrix\": ...}, not " + json_excerpt(item));
            if (std::string unknown = unknown_key(item, {"name", "matrix"}); !unknown.empty())
                throw std::invalid_argument(unknown);
            matrix_from_json<Mrv::IDoubleMatrix, double>(*element, item["matrix"]);
            set->Add(item["name"].get<std::string>().c_str(), element);
        }
        return;
    }
    if (auto* t = Mrv::interface_cast<Mrv::ITemporalData>(&value)) {
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
        reshape_temporal(*t, static_cast<int32>(channels.size()), static_cast<int32>(samples), rate);
        for (std::size_t ch = 0; ch < channels.size(); ++ch)
            for (std::size_t k = 0; k < samples; ++k)
                t->GetChannel(static_cast<int32>(ch))[k] = double_from_json(channels[ch][k]);
        return;
    }
    throw std::invalid_argument(std::string("cannot read a value of class ") + value.GetClassId());
}

}  // namespace mrvhost
