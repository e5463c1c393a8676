#pragma once
// The distances by which a rectangle's four sides move inward, with a zero
// constant, totals, constructors, single-side adjustments and field-wise sums.
//
//   NSEdgeInsets::withHorizontalVertical(10, 4)  -> {top 2, left 5, bottom 2, right 5}
//   insets.insetByHorizontal(3)                  -> left and right each + 1.5
//
// A plain value; every operation returns a new value and is safe from any
// thread. Negative amounts move sides outward.
namespace ext {

// The platform's graphics scalar: a double here.
using CGFloat = double;

struct NSEdgeInsets {
  CGFloat top = 0;
  CGFloat left = 0;
  CGFloat bottom = 0;
  CGFloat right = 0;

  // All four fields 0; made once, on first use.
  [[nodiscard]] static const NSEdgeInsets& zero();
  // All four fields `inset`.
  [[nodiscard]] static NSEdgeInsets withInset(CGFloat inset);
  // Half of `horizontal` on left and right, half of `vertical` on top and bottom.
  [[nodiscard]] static NSEdgeInsets withHorizontalVertical(CGFloat horizontal, CGFloat vertical);

  [[nodiscard]] CGFloat vertical() const { return top + bottom; }
  [[nodiscard]] CGFloat horizontal() const { return left + right; }

  [[nodiscard]] NSEdgeInsets insetByTop(CGFloat amount) const;
  [[nodiscard]] NSEdgeInsets insetByLeft(CGFloat amount) const;
  [[nodiscard]] NSEdgeInsets insetByBottom(CGFloat amount) const;
  [[nodiscard]] NSEdgeInsets insetByRight(CGFloat amount) const;
  // Half of `amount` on each side of the pair.
  [[nodiscard]] NSEdgeInsets insetByHorizontal(CGFloat amount) const;
  [[nodiscard]] NSEdgeInsets insetByVertical(CGFloat amount) const;

  NSEdgeInsets& operator+=(const NSEdgeInsets& other);
  // Field by field, so any NaN field makes two insets unequal.
  friend bool operator==(const NSEdgeInsets&, const NSEdgeInsets&) = default;
};

[[nodiscard]] NSEdgeInsets operator+(NSEdgeInsets lhs, const NSEdgeInsets& rhs);

}  // namespace ext
