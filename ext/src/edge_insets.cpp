#include "ext/edge_insets.h"

namespace ext {

const NSEdgeInsets& NSEdgeInsets::zero() {
  static const NSEdgeInsets kZero{};
  return kZero;
}

NSEdgeInsets NSEdgeInsets::withInset(CGFloat inset) { return {inset, inset, inset, inset}; }

NSEdgeInsets NSEdgeInsets::withHorizontalVertical(CGFloat horizontal, CGFloat vertical) {
  return {vertical * 0.5, horizontal * 0.5, vertical * 0.5, horizontal * 0.5};
}

namespace {

NSEdgeInsets movedSide(NSEdgeInsets insets, CGFloat NSEdgeInsets::*side, CGFloat amount) {
  insets.*side += amount;
  return insets;
}

}  // namespace

NSEdgeInsets NSEdgeInsets::insetByTop(CGFloat amount) const {
  return movedSide(*this, &NSEdgeInsets::top, amount);
}

NSEdgeInsets NSEdgeInsets::insetByLeft(CGFloat amount) const {
  return movedSide(*this, &NSEdgeInsets::left, amount);
}

NSEdgeInsets NSEdgeInsets::insetByBottom(CGFloat amount) const {
  return movedSide(*this, &NSEdgeInsets::bottom, amount);
}

NSEdgeInsets NSEdgeInsets::insetByRight(CGFloat amount) const {
  return movedSide(*this, &NSEdgeInsets::right, amount);
}

NSEdgeInsets NSEdgeInsets::insetByHorizontal(CGFloat amount) const {
  return insetByLeft(amount * 0.5).insetByRight(amount * 0.5);
}

NSEdgeInsets NSEdgeInsets::insetByVertical(CGFloat amount) const {
  return insetByTop(amount * 0.5).insetByBottom(amount * 0.5);
}

NSEdgeInsets& NSEdgeInsets::operator+=(const NSEdgeInsets& other) {
  top += other.top;
  left += other.left;
  bottom += other.bottom;
  right += other.right;
  return *this;
}

NSEdgeInsets operator+(NSEdgeInsets lhs, const NSEdgeInsets& rhs) { return lhs += rhs; }

}  // namespace ext
