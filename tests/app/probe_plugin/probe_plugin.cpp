// A Qt generic plugin as an unprivileged user could slip into the desktop
// program through QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS: it writes to
// QV_PROBE_REPORT what it could do from inside the program.
#include <QGenericPlugin>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class ProbePlugin final : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe_plugin.json")

 public:
  QObject* create(const QString&, const QString&) override {
    const char* reportPath = std::getenv("QV_PROBE_REPORT");
    const char* secretPath = std::getenv("QV_PROBE_SECRET");
    if (reportPath == nullptr || secretPath == nullptr) return nullptr;
    std::ofstream report(reportPath);
    std::ifstream secret(secretPath);
    report << "secret: " << (secret.good() ? "read" : "denied") << "\n";
    const int raw = socket(AF_PACKET, SOCK_RAW, 0);
    report << "raw socket: " << (raw >= 0 ? "opened" : "denied") << "\n";
    if (raw >= 0) close(raw);
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("CapEff:", 0) == 0 || line.rfind("CapPrm:", 0) == 0) report << line << "\n";
    }
    return nullptr;
  }
};

#include "probe_plugin.moc"
