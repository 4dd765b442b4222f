#include "WindowTestSupport.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "app/MovrelMain.h"
#include "movrel-pack/Write.h"
#include "package/Seal.h"

namespace movrel::test {

platform::MessageAnswer ScriptedApplication::ShowMessage(platform::MessageKind kind,
                                                         platform::MessageButtons buttons,
                                                         const std::string& text) {
  shown.push_back({platform::MessageTitle(kind), buttons, text});
  if (onMessage) onMessage(text);
  if (buttons == platform::MessageButtons::Ok) return platform::MessageAnswer::Ok;
  if (answers.empty()) return platform::MessageAnswer::No;
  const auto answer = answers.front();
  answers.pop_front();
  return answer;
}

void ScriptedApplication::ShowPlainError(const std::string& text, const std::string& title) {
  shown.push_back({title, platform::MessageButtons::Ok, text});
}

void WaitForTheRun(app::TMovrelMain& form, platform::Application& application) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (form.RunInProgress() && std::chrono::steady_clock::now() < deadline) {
    if (application.RunPosted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void Package::SetOption(package::layout::Option option, char value) {
  const auto& slot = package::layout::SlotOf(option);
  const auto length = std::strlen(reinterpret_cast<const char*>(block.data() + slot.offset));
  block[slot.offset + length - 1] = static_cast<unsigned char>(value);
}

void Package::AddSeal(bool sealed) {
  const unsigned char* embedded = package::EmbeddedPackage().SealData();
  seal.assign(embedded, embedded + package::layout::kSealSize);
  if (sealed) pack::WriteSeal(seal.data(), block.data());
}

std::vector<unsigned char> SimImage(const std::string& revision, std::size_t size) {
  std::vector<unsigned char> image(size);
  for (std::size_t i = 64; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7);
  const std::string record =
      std::string("MOVREL-SIM-IMAGE") + "Dornavex" + "DVDRW KTR-207M  " + revision;
  std::memcpy(image.data(), record.data(), record.size());
  std::memset(image.data() + record.size(), 0, 64 - record.size());
  return image;
}

pack::PackRequest StandardRequest() {
  pack::PackRequest request;
  request.title = "Flash Program for Dornavex DVDRW KTR-207M";
  request.model = "Dornavex DVDRW KTR-207M";
  request.banks[0].imagePath = "bank1.bin";
  request.banks[0].newRevision = "RV0D";
  request.banks[0].constraints.push_back({"RV01", "RV0D", "Dornavex", "DVDRW KTR-207M"});
  request.options[static_cast<std::size_t>(package::layout::Option::Reboot)] = '0';
  request.options[static_cast<std::size_t>(package::layout::Option::Warning)] = '0';
  return request;
}

Package UnpackagedTemplate() {
  const unsigned char* embedded = package::EmbeddedPackage().Data();
  return Package{std::vector<unsigned char>(embedded, embedded + package::layout::kBlockSize), {}};
}

Package MakePackage(const pack::PackRequest& request) {
  Package package = UnpackagedTemplate();
  std::vector<pack::Bytes> images;
  // The banks share the 1 MiB bank area.
  const int banks = pack::BankCountOf(request);
  for (int b = 0; b < banks; ++b) {
    images.push_back(SimImage(*request.banks[b].newRevision, 1048576 / (banks == 3 ? 4 : banks)));
  }
  pack::FillBlock(package.block.data(), request, images);
  return package;
}

}  // namespace movrel::test
