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

NSEdgeInsets NSEdgeInsets::insetByTop(CGFloat amount) const {
  NSEdgeInsets out = *this;
  out.top += amount;
  return out;
}

NSEdgeInsets NSEdgeInsets::insetByLeft(CGFloat amount) const {
  NSEdgeInsets out = *this;
  out.left += amount;
  return out;
}

NSEdgeInsets NSEdgeInsets::insetByBottom(CGFloat amount) const {
  NSEdgeInsets out = *this;
  out.bottom += amount;
  return out;
}

NSEdgeInsets NSEdgeInsets::insetByRight(CGFloat amount) const {
  NSEdgeInsets out = *this;
  out.right += amount;
  return out;
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
