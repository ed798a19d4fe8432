#include "framework/ui_queries.h"

namespace Mrv {
namespace {

// Query codes of user-interface events.
enum ui_query : int32 {
    Flag0 = 0, Flag1 = 1, Value0 = 2, Flag2 = 3, Flag3 = 4, Flag4 = 5, Flag5 = 6, Value1 = 7,
    Flag6 = 8, OwnerDrawn = 9, Size = 10, Unused = 11, SetValue = 12, DrawContent = 13, Release = 14
};

}  // namespace

bool answer_ui_query(IBlock& block, IEvent& event) {
    switch (event.GetQueryCode()) {
    case Flag0: return block.GetUiFlag(0);
    case Flag1: return block.GetUiFlag(1);
    case Flag2: return block.GetUiFlag(2);
    case Flag3: return block.GetUiFlag(3);
    case Flag4: return block.GetUiFlag(4);
    case Flag5: return block.GetUiFlag(5);
    case Flag6: return block.GetUiFlag(6);
    case OwnerDrawn: return block.IsUiOwnerDrawn();
    case Value0:
    case Value1: {
        const int64 answer = block.GetUiValue(event.GetQueryCode() == Value0 ? 0 : 1, event.GetQueryValue());
        event.SetQueryValue(answer);
        return answer != 0;
    }
    case Size: {
        UiSize size{};
        block.GetUiSize(&size);
        event.SetSize(size);
        return true;
    }
    case SetValue: return block.SetUiValue(event.GetQueryValue());
    case DrawContent:
        block.Draw(event.GetDevice(), event.GetRectangle(0), event.GetRectangle(1), event.GetDrawValue(0),
                   event.GetDrawValue(1));
        return true;
    case Release: return block.ReleaseUiResources();
    default: return false;
    }
}

}  // namespace Mrv
