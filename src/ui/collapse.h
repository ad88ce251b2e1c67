#pragma once
// Removing an empty row from a dialog's layout: the control is hidden, every
// child below it moves up by its height and the dialog becomes that much
// shorter.
#include <windows.h>

#include <vector>

struct CollapsePlan {
  LONG height;                 // how far the rows below move up
  std::vector<bool> movesUp;   // per child, in the order given
  RECT dialog;                 // the dialog's new window rectangle
};

// All rectangles in screen coordinates. A child moves when its top edge
// lies below the collapsed control's bottom edge; children at or above it,
// the control itself and those beside it included, stay.
CollapsePlan PlanCollapse(const RECT& collapsed, const std::vector<RECT>& children, const RECT& dialog);

// Applies the plan to the children of `dialog` (without repainting).
void CollapseControl(HWND dialog, HWND control);
