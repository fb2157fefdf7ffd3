#include "client/pelorin/TransferRun.h"

#include "client/pelorin/BusyScope.h"

namespace plx::pelorin {

void runTransfer(QWidget* window, ServiceWrapper& wrapper, UiServices& ui, const TransferOrder& order) {
    const FileRec& file = order.kind.file;
    ClientFilePath path = splitClientFileName(order.kind.app.clientFileName);
    std::string label = file.DataName + (order.send ? "の送信" : "の受信");
    runOffThread(window, [&] {
        if (order.send) {
            wrapper.SendData(file.FileType, path.folder, path.fileName, file.UserData);
        } else {
            std::string name = path.fileName;
            wrapper.RecvData(file.FileType, path.folder, name, order.resendFlag, file.UserData);
        }
    });
    const CallStatus& triple = wrapper.triple();
    std::string text =
        triple.ok() ? label + "が正常終了しました。" : failureBoxText(label + "が異常終了しました。", triple);
    ui.message(window, QString::fromUtf8(kTransferResultTitle), QString::fromStdString(text),
               UiServices::Icon::Information);
}

} // namespace plx::pelorin
