// host.pick: an element or some columns of a matrix.
#include "host/data_files.h"
#include "host_block_kit.h"

namespace mrvhost {
namespace {

// One element of a matrix as a scalar, or some of its columns as a matrix.
class Pick : public Consumer {
public:
    using Consumer::Consumer;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "The matrix picked from", "kernel", "double-matrix", true, false, 0);
        s.AddOutput("Output", "Output",
                    is_scalar(datatype_) ? "The element at Row, Column" : "The input's Columns, every row", "kernel",
                    datatype_.c_str(), "", "", 0);
        add_parameter(s, "Row", "Row", "Zero-based row of the element picked (scalar output)", "int");
        add_parameter(s, "Column", "Column", "Zero-based column of the element picked (scalar output)", "int");
        add_parameter(s, "Columns", "Columns",
                      "Zero-based columns kept, e.g. \"0,2-3\" (matrix output); empty keeps all", "string");
    }
    bool init() override {
        // Upstream blocks have shaped their outputs by now.
        auto* matrix = convert_or_throw<Mrv::IDoubleMatrix>(input("Input"));
        if (matrix->GetHeight() > 0 && matrix->GetWidth() > 0) check_shape(*matrix);
        return Consumer::init();
    }
    // A changed Row, Column or Columns picks again from the same input.
    bool only_new_values() const override { return false; }
    void consume(Mrv::IDatatype& value) override {
        pick(*convert_or_throw<Mrv::IDoubleMatrix>(&value));
        output("Output")->SetTimeStamp(now());
    }

private:
    // The columns kept (matrix output), after checking that the element or
    // the columns are there.
    std::vector<int> check_shape(const Mrv::IDoubleMatrix& matrix) {
        const int rows = matrix.GetHeight(), columns = matrix.GetWidth();
        if (!is_scalar(datatype_)) return parse_column_list(string_parameter("Columns"), columns);
        const int row = int_parameter("Row"), column = int_parameter("Column");
        if (row < 0 || row >= rows || column < 0 || column >= columns)
            throw std::runtime_error(element() + " is outside the " + std::to_string(rows) + "x" +
                                     std::to_string(columns) + " input");
        return {};
    }
    std::string element() {
        return "Row " + std::to_string(int_parameter("Row")) + ", Column " + std::to_string(int_parameter("Column"));
    }
    void pick(const Mrv::IDoubleMatrix& matrix) {
        const std::vector<int> kept = check_shape(matrix);
        if (is_scalar(datatype_)) {
            try {
                assign_number(*output("Output"), matrix.GetAt(int_parameter("Row"), int_parameter("Column")));
            } catch (const std::invalid_argument& error) {
                throw std::runtime_error(element() + ": " + error.what());
            }
            return;
        }
        auto* out = convert_or_throw<Mrv::IDoubleMatrix>(output("Output"));
        out->Reinit(matrix.GetHeight(), static_cast<int>(kept.size()));
        for (int r = 0; r < matrix.GetHeight(); ++r)
            for (std::size_t k = 0; k < kept.size(); ++k) out->SetAt(r, static_cast<int>(k), matrix.GetAt(r, kept[k]));
    }
};

}  // namespace

std::vector<HostBlockClass> pick_block_classes() {
    return {
        {"host.pick", "Turns a matrix into a scalar (the element at Row, Column) or a smaller matrix (its Columns)",
         {"double", "int", "bool", "double-matrix"}, make<Pick>},
    };
}

}  // namespace mrvhost
