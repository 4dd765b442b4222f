// Toolkit-free models of the window's controls. A view binds them to real widgets: every change
// calls the form's change notifier, after which the view shows the new state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace app {

struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Color&) const = default;
};

inline constexpr Color clBlack{0, 0, 0};
inline constexpr Color clMaroon{128, 0, 0};
inline constexpr Color clNavy{0, 0, 128};

using ChangeNotifier = std::function<void()>;

class Control {
 public:
  explicit Control(const ChangeNotifier* notifier, bool enabled = true)
      : notifier(notifier), enabled(enabled) {}

  bool Enabled() const { return enabled; }
  void SetEnabled(bool value) { Set(enabled, value); }
  bool Visible() const { return visible; }
  void SetVisible(bool value) { Set(visible, value); }

 protected:
  template <typename T>
  void Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    if (*notifier) (*notifier)();
  }

 private:
  const ChangeNotifier* notifier;
  bool enabled = true;
  bool visible = true;
};

class Label : public Control {
 public:
  Label(const ChangeNotifier* notifier, std::string text, Color color = clBlack)
      : Control(notifier), text(std::move(text)), fontColor(color) {}

  const std::string& Text() const { return text; }
  void SetText(const std::string& value) { Set(text, value); }
  Color FontColor() const { return fontColor; }
  void SetFontColor(Color value) { Set(fontColor, value); }

 private:
  std::string text;
  Color fontColor;
};

class Button : public Control {
 public:
  Button(const ChangeNotifier* notifier, std::string caption)
      : Control(notifier), caption(std::move(caption)) {}
  const std::string& Caption() const { return caption; }

 private:
  std::string caption;
};

// A fixed drop-down list: one line per drive, no typing.
class ComboBox : public Control {
 public:
  using Control::Control;

  const std::vector<std::string>& Items() const { return items; }
  void Clear() {
    Set(items, {});
    Set(itemIndex, -1);
  }
  void Add(const std::string& line) {
    auto next = items;
    next.push_back(line);
    Set(items, next);
  }
  // The selected line, -1 for none. Setting it does not raise the change event.
  int ItemIndex() const { return itemIndex; }
  void SetItemIndex(int value) { Set(itemIndex, value); }

 private:
  std::vector<std::string> items;
  int itemIndex = -1;
};

class ProgressBar : public Control {
 public:
  using Control::Control;

  int Min() const { return min; }
  int Max() const { return max; }
  int Step() const { return step; }
  int Position() const { return position; }
  void SetMin(int value) { Set(min, value); }
  void SetMax(int value) { Set(max, value); }
  void SetStep(int value) { Set(step, value); }
  void SetPosition(int value) { Set(position, value < min ? min : value > max ? max : value); }
  void StepIt() { SetPosition(position + step); }

 private:
  int min = 0;
  int max = 100;
  int step = 1;
  int position = 0;
};

class Timer : public Control {
 public:
  explicit Timer(const ChangeNotifier* notifier) : Control(notifier, false) {}
  unsigned Interval() const { return 100; }  // milliseconds
};

}  // namespace app
