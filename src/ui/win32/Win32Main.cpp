#include "ui/win32/Win32Main.h"

#include <clocale>
#include <exception>

#include "app/MovrelMain.h"
#include "app/WindowTexts.h"
#include "package/PackageBlock.h"
#include "ui/win32/Win32Application.h"
#include "ui/win32/Win32Form.h"

namespace movrel::ui {

namespace texts = app::texts;
using package::EmbeddedPackage;

int Win32Main(platform::System& system, Win32Application& application) {
  std::setlocale(LC_ALL, "");
  try {
    Win32Form form(system, application, EmbeddedPackage());
    // A start-up that ended the program (a damaged package, no drive to update, No to the NOTICE)
    // ends it before any update, as the terminal view says with its status.
    if (!application.Terminated()) {
      form.Show();
      application.Run();
    }
    // A failure that a window procedure or posted work caught ends the program as one here does.
    if (application.Failure()) std::rethrow_exception(application.Failure());
    return form.Main().ExitStatus();
  } catch (const std::exception& error) {
    application.ShowPlainError(error.what(), texts::kInitialCaption);
  } catch (...) {
    application.ShowPlainError("", texts::kInitialCaption);  // no exception: an empty message
  }
  return 1;
}

}  // namespace movrel::ui
