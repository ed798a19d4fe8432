// Declarations in both forms, layouts, domains, attributes and run-time
// changes of a block's signature.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"
#include "test_blocks.h"

namespace framework_test {
namespace {

using mrvhost::BlockHarness;

class Declarations : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { harness.reset(); }
    DeclaringBlock& make() {
        harness = std::make_unique<BlockHarness>(factory_of<DeclaringBlock>(), "decl");
        harness->init_instance();
        return *created_as<DeclaringBlock>(*harness);
    }
    std::unique_ptr<BlockHarness> harness;
};

// Combos, file names, domains, defaults and the common attributes are pinned
// for every catalog block by the generated block reference; here, what no
// catalog block declares.
TEST_F(Declarations, LayoutsAndAttributesNoCatalogBlockDeclares) {
    make();
    auto& layout = harness->layout();
    auto* folder = Mrv::interface_cast<Mrv::IFoldernameDatatypeLayout>(layout.GetLayout("Folder"));
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->GetOption());
    auto* selector = Mrv::interface_cast<Mrv::IDatatypeSelectorComboLayout>(layout.GetLayout("Kind"));
    ASSERT_NE(selector, nullptr);
    ASSERT_EQ(selector->GetPairCount(), 2);
    EXPECT_STREQ(selector->GetSecond(1), "int");
    EXPECT_EQ(layout.layout_first(), std::vector<std::string>{"Kind"});
    EXPECT_EQ(layout.GetLayout("Gain"), nullptr);
    Mrv::int32 low = -1, high = -1;
    auto* gain = Mrv::interface_cast<Mrv::IDoubleDomain>(harness->parameter("Gain").GetDomain());
    ASSERT_NE(gain, nullptr);
    gain->GetMinimum(&low);
    gain->GetMaximum(&high);
    EXPECT_EQ(low, Mrv::BoundFlagFalse);
    EXPECT_EQ(high, Mrv::BoundAbsent);
    EXPECT_FALSE(harness->parameter("Gain").GetAttribute(Mrv::AttrVisible));
    EXPECT_TRUE(harness->parameter("Gain").GetAttribute(Mrv::AttrRunStructural));
    // A string-table id without text gives empty texts, not an error.
    EXPECT_STREQ(harness->parameter("Missing").GetName(), "");
    // The editor's domain check keeps out what the domain refuses.
    EXPECT_FALSE(harness->set_int("Mode", 3));
    EXPECT_FALSE(harness->set_double("Gain", 0.0));
    EXPECT_TRUE(harness->set_double("Gain", 0.25));
}

TEST_F(Declarations, RunTimeSignatureChangesAreAnnounced) {
    DeclaringBlock& block = make();
    block.AddExtraInput();
    Mrv::IPin* extra = harness->signature().GetInputs()->Find("Extra");
    ASSERT_NE(extra, nullptr);
    EXPECT_STREQ(extra->GetName(), "Input Vector");
    EXPECT_TRUE(extra->IsRequired());
    ASSERT_EQ(harness->status().driving_inputs().size(), 1u);
    block.RemoveExtraInput();
    EXPECT_EQ(harness->signature().GetInputs()->Find("Extra"), nullptr);
    EXPECT_TRUE(harness->status().driving_inputs().empty());  // withdrawn before removal
    int signature_changes = 0;
    for (const auto& n : harness->notifications()) signature_changes += n.kind == mrvhost::Notification::SignatureChanged;
    EXPECT_EQ(signature_changes, 2);
}

TEST_F(Declarations, OwnParameterChangeIsReported) {
    DeclaringBlock& block = make();
    block.ChangeOwnGain();
    ASSERT_EQ(harness->notifications().size(), 1u);
    EXPECT_EQ(harness->notifications()[0].kind, mrvhost::Notification::ParameterChanged);
    EXPECT_EQ(harness->notifications()[0].parameter_id, "Gain");
    EXPECT_EQ(harness->notifications()[0].instance_name, "decl");
    EXPECT_EQ(harness->parameter_double("Gain"), 9.0);
}

}  // namespace
}  // namespace framework_test
