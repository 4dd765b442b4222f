// Toolkit-free models of the window's controls. A view binds them to real widgets: whenever a
// control's state is set to a new value, the form's view refresh runs and the view shows it.
// (The list's OnChange event is another thing: the user's choice of a line, cboDrivesChange.)
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace movrel::app {

struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Color&) const = default;
};

inline constexpr Color clBlack{0, 0, 0};
inline constexpr Color clMaroon{128, 0, 0};
inline constexpr Color clNavy{0, 0, 128};

// Called after any control's state changed: the view shows the form again.
using ViewRefresh = std::function<void()>;

class Control {
 public:
  explicit Control(const ViewRefresh* refresh, bool enabled = true)
      : refresh(refresh), enabled(enabled) {}

  bool Enabled() const { return enabled; }
  void SetEnabled(bool value) { Set(enabled, value); }
  bool Visible() const { return visible; }
  void SetVisible(bool value) { Set(visible, value); }

 protected:
  template <typename T>
  void Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    if (*refresh) (*refresh)();
  }

 private:
  const ViewRefresh* refresh;
  bool enabled = true;
  bool visible = true;
};

class Label : public Control {
 public:
  Label(const ViewRefresh* refresh, std::string text, Color color = clBlack)
      : Control(refresh), text(std::move(text)), fontColor(color) {}

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
  Button(const ViewRefresh* refresh, std::string caption)
      : Control(refresh), caption(std::move(caption)) {}
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
  explicit Timer(const ViewRefresh* refresh) : Control(refresh, false) {}
  unsigned Interval() const { return 100; }  // milliseconds
};

}  // namespace movrel::app
