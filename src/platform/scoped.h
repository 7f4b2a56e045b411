#pragma once
// Scope-bound ownership of a platform handle: closes it through the interface that opened it,
// on every exit path. One template serves every handle kind of the seam.

#include <utility>

namespace keldran {

template <class Iface, class H, void (Iface::*Close)(H)>
class Scoped {
 public:
  explicit Scoped(Iface& owner, H handle = H{}) : owner_(&owner), handle_(handle) {}
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  Scoped(Scoped&& other) noexcept
      : owner_(other.owner_), handle_(std::exchange(other.handle_, H{})) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) {
      reset();
      owner_ = other.owner_;
      handle_ = std::exchange(other.handle_, H{});
    }
    return *this;
  }
  ~Scoped() { reset(); }

  H get() const { return handle_; }
  H* put() {
    reset();
    return &handle_;
  }
  H release() { return std::exchange(handle_, H{}); }
  void reset(H handle = H{}) {
    H old = std::exchange(handle_, handle);
    if (old) (owner_->*Close)(old);
  }
  explicit operator bool() const { return static_cast<bool>(handle_); }

 private:
  Iface* owner_;
  H handle_;
};

}  // namespace keldran
