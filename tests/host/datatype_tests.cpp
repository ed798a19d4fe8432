// Host datatypes, shapes, domains, the patch-file value codec, and pins.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include <cmath>
#include <cstring>

#include "host/datatypes.h"
#include "host/editing.h"
#include "host/signature.h"

namespace {

using namespace mrvhost;

class HostObjects : public LiveObjectsTest {
protected:
    template <class I>
    Ref<I> make(const char* catalog, const char* class_id) {
        return Ref<I>(convert_or_throw<I>(Ref<Mrv::IDatatype>::adopt(create_datatype(catalog, class_id)).get()));
    }
};

std::string description_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Mrv::IException& error) {
        return error.GetDescription();
    } catch (const std::exception& error) {
        return std::string("std: ") + error.what();
    }
    return "no exception";
}

TEST_F(HostObjects, MatrixReadsTextRowsAndAFailedParseLeavesItAsItWas) {
    auto matrix = make<Mrv::IDoubleMatrix>("kernel", "double-matrix");
    ASSERT_TRUE(matrix->ReadFromText("1 2.5\t-3\n\n nan INF -Infinity \n"));
    ASSERT_EQ(matrix->GetHeight(), 2);
    ASSERT_EQ(matrix->GetWidth(), 3);
    EXPECT_EQ(matrix->GetAt(0, 1), 2.5);
    EXPECT_EQ(matrix->GetReadPointer()[2], -3.0);
    EXPECT_TRUE(std::isnan(matrix->GetAt(1, 0)));
    EXPECT_EQ(matrix->GetAt(1, 1), HUGE_VAL);
    EXPECT_EQ(matrix->GetAt(1, 2), -HUGE_VAL);
    EXPECT_FALSE(matrix->ReadFromText("1 2\n3"));
    EXPECT_FALSE(matrix->ReadFromText("1 x"));
    EXPECT_EQ(matrix->GetHeight(), 2);
    EXPECT_EQ(matrix->GetAt(1, 1), HUGE_VAL);
    auto ints = make<Mrv::IIntMatrix>("kernel", "int-matrix");
    EXPECT_TRUE(ints->ReadFromText("1 -2"));
    EXPECT_FALSE(ints->ReadFromText("1.5 2"));
    EXPECT_EQ(ints->GetAt(0, 1), -2);
    EXPECT_TRUE(matrix->ReadFromText(""));
    EXPECT_EQ(matrix->GetHeight(), 0);
}

TEST_F(HostObjects, CopyEqualsAndShapes) {
    auto a = make<Mrv::IDoubleMatrix>("kernel", "double-matrix");
    auto b = make<Mrv::IDoubleMatrix>("kernel", "double-matrix");
    a->ReadFromText("1 nan");
    a->SetTimeStamp(77);
    b->CopyFrom(a.get());
    EXPECT_TRUE(b->Equals(a.get()));  // NaN equals NaN for comparison before assignment
    EXPECT_EQ(b->GetTimeStamp(), 0);
    auto shape = Ref<Mrv::IInitInfo>::adopt(a->CreateInitInfo());
    auto other = make<Mrv::IDoubleMatrix>("kernel", "double-matrix");
    shape->Apply(other.get());
    EXPECT_EQ(other->GetWidth(), 2);
    auto number = make<Mrv::IDouble>("kernel", "double");
    EXPECT_EQ(description_of([&] { shape->Apply(number.get()); }), "Invalid type cast.\n");
    EXPECT_EQ(description_of([&] { number->CopyFrom(a.get()); }), "Invalid type cast.\n");
    EXPECT_FALSE(number->Equals(a.get()));
    EXPECT_EQ(number->CreateInitInfo(), nullptr);
    auto trigger = make<Mrv::ITrigger>("kernel", "trigger");
    EXPECT_FALSE(trigger->Equals(trigger.get()));
}

TEST_F(HostObjects, DomainBoundsInclusiveExclusiveAbsent) {
    auto domain = Ref<Mrv::IDomain>::adopt(create_domain("kernel", "int-domain"));
    auto value = make<Mrv::IInt>("kernel", "int");
    auto accepts = [&](int v) {
        value->SetValue(v);
        return domain->Accepts(value.get());
    };
    EXPECT_TRUE(accepts(-100));
    convert_or_throw<Mrv::IIntDomain>(domain.get())->SetMinimum(1, Mrv::BoundFlagTrue);
    convert_or_throw<Mrv::IIntDomain>(domain.get())->SetMaximum(10, Mrv::BoundFlagFalse);
    EXPECT_TRUE(accepts(1));
    EXPECT_FALSE(accepts(10));
    EXPECT_FALSE(accepts(0));
    EXPECT_FALSE(domain->Accepts(make<Mrv::IDouble>("kernel", "double").get()));
}

// Trained maps are saved as matrix parameters: every double must come back
// with the same bits from the text of a patch file.
TEST_F(HostObjects, PatchFileValuesKeepEveryDouble) {
    const std::vector<double> tricky = {0.1 + 0.2, 1.0 / 3.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                                        -0.0, 0.30000000000000004, 123456789.12345679, 1e23, std::nextafter(1.0, 2.0)};
    auto matrix = make<Mrv::IDoubleMatrix>("kernel", "double-matrix");
    matrix->Reinit(2, 5);
    std::copy(tricky.begin(), tricky.end(), matrix->GetWritePointer());
    auto copy = make<Mrv::IDoubleMatrix>("kernel", "double-matrix");
    value_from_json(*copy, nlohmann::json::parse(value_to_json(*matrix).dump(2)));
    EXPECT_EQ(std::memcmp(copy->GetReadPointer(), tricky.data(), sizeof(double) * tricky.size()), 0);
    matrix->ReadFromText("1 -inf\n0.1 nan");
    EXPECT_EQ(value_to_json(*matrix).dump(), R"([[1.0,"-inf"],[0.1,"nan"]])");
    value_from_json(*copy, value_to_json(*matrix));
    EXPECT_TRUE(copy->Equals(matrix.get()));
    auto number = make<Mrv::IInt>("kernel", "int");
    EXPECT_EQ(description_of([&] { value_from_json(*number, 1.5); }), "std: expected an integer, not 1.5");
    EXPECT_EQ(description_of([&] { value_from_json(*copy, nlohmann::json::parse("[[1],[2,3]]")); }),
              "std: matrix rows differ in length");
}

TEST_F(HostObjects, InputReadsTheLinkedOutputsVeryObject) {
    Ref<Pin> output = Pin::create_output("out", "kernel", "double");
    Ref<Pin> input = Pin::create_input("in", "kernel", "double");
    EXPECT_FALSE(input->HasData());
    input->connect(*output);
    EXPECT_EQ(input->GetDatatype(), output->GetDatatype());
    output->GetDatatype()->SetTimeStamp(5);
    EXPECT_TRUE(input->HasData());
    // Data only for a value that arrived since the block's last execution.
    Ref<Signature> signature = Signature::create();
    signature->inputs().add(input);
    signature->executed();
    EXPECT_FALSE(input->HasData());
    output->GetDatatype()->SetTimeStamp(6);
    EXPECT_TRUE(input->HasData());
    Ref<Pin> matrix = Pin::create_output("m", "kernel", "double-matrix");
    EXPECT_EQ(description_of([&] { input->connect(*matrix); }),
              "std: cannot link m (kernel/double-matrix) to in (kernel/double)");
    // An identifier is unique among a block's inputs, outputs and parameters.
    EXPECT_EQ(description_of([&] { signature->AddOutput("in", "A", "again", "kernel", "double", "", "", 0); }),
              "Duplicate identifier \"in\" in block signature.\n");
}

}  // namespace
