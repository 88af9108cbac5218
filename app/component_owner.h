#pragma once
// Owns components of any kind and destroys them in reverse order of
// creation. Destructors cannot fail, so every component is destroyed.
#include <memory>
#include <utility>
#include <vector>

namespace zyp::app {

class ComponentOwner {
 public:
  ComponentOwner() = default;
  ComponentOwner(const ComponentOwner&) = delete;
  ComponentOwner& operator=(const ComponentOwner&) = delete;
  ~ComponentOwner() { DestroyComponents(); }

  template <typename T, typename... Args>
  T& CreateComponent(Args&&... args) {
    auto component = std::make_unique<T>(std::forward<Args>(args)...);
    T& created = *component;
    owned_.push_back(Owned(component.release(), [](void* p) { delete static_cast<T*>(p); }));
    return created;
  }

  void DestroyComponents() noexcept {
    while (DestroyLastComponent()) {
    }
  }

  // Destroys the component created last; false when none is left.
  bool DestroyLastComponent() noexcept {
    if (owned_.empty()) return false;
    // Taken out first: a component may look at its siblings while it goes.
    Owned last = std::move(owned_.back());
    owned_.pop_back();
    last.reset();
    return true;
  }

 private:
  using Owned = std::unique_ptr<void, void (*)(void*)>;
  std::vector<Owned> owned_;
};

}  // namespace zyp::app
