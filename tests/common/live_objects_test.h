// A fixture that checks every host object a test created was released.
#pragma once

#include <gtest/gtest.h>

#include "host/live_objects.h"

class LiveObjectsTest : public ::testing::Test {
protected:
    // Subclasses that hold host objects release them first.
    virtual void ReleaseHostObjects() {}
    void TearDown() override {
        ReleaseHostObjects();
        EXPECT_EQ(mrvhost::live_object_count(), live_at_start_) << "host objects leaked";
    }

private:
    std::int64_t live_at_start_ = mrvhost::live_object_count();
};
