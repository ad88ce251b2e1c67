#include "ui/collapse.h"

CollapsePlan PlanCollapse(const RECT& collapsed, const std::vector<RECT>& children, const RECT& dialog) {
  CollapsePlan plan;
  plan.height = collapsed.bottom - collapsed.top;
  plan.movesUp.reserve(children.size());
  for (const RECT& child : children) plan.movesUp.push_back(child.top > collapsed.bottom);
  plan.dialog = dialog;
  plan.dialog.bottom -= plan.height;
  return plan;
}

namespace {
struct Children {
  HWND dialog;
  std::vector<HWND> windows;
  std::vector<RECT> rects;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM parameter) {
  auto* children = reinterpret_cast<Children*>(parameter);
  // Windows inside a child move with it.
  if (::GetParent(child) != children->dialog) return TRUE;
  RECT rect;
  if (::GetWindowRect(child, &rect)) {
    children->windows.push_back(child);
    children->rects.push_back(rect);
  }
  return TRUE;
}
}  // namespace

void CollapseControl(HWND dialog, HWND control) {
  if (dialog == nullptr || control == nullptr) return;
  RECT collapsed;
  if (!::GetWindowRect(control, &collapsed)) return;
  ::ShowWindow(control, SW_HIDE);

  Children children{dialog, {}, {}};
  ::EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  RECT dialogRect;
  ::GetWindowRect(dialog, &dialogRect);
  const CollapsePlan plan = PlanCollapse(collapsed, children.rects, dialogRect);

  for (size_t i = 0; i < children.windows.size(); ++i) {
    if (!plan.movesUp[i]) continue;
    RECT moved = children.rects[i];
    ::OffsetRect(&moved, 0, -plan.height);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&moved), 2);
    ::MoveWindow(children.windows[i], moved.left, moved.top, moved.right - moved.left, moved.bottom - moved.top,
                 FALSE);
  }
  ::MoveWindow(dialog, plan.dialog.left, plan.dialog.top, plan.dialog.right - plan.dialog.left,
               plan.dialog.bottom - plan.dialog.top, FALSE);
}
