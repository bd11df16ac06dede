#include "persistence/ui/qsettings_profile_store.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace quorvel {
namespace {

QString Key(std::string_view section, std::string_view name) {
  return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + QLatin1Char('/') +
         QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

QSettingsProfileStore::QSettingsProfileStore()
    : settings_(std::make_unique<QSettings>(ToQString(kProfileOrganization), ToQString(kProfileApplication))) {}

QSettingsProfileStore::~QSettingsProfileStore() { Sync(); }

int QSettingsProfileStore::GetInt(std::string_view section, std::string_view name, int defaultValue) const {
  std::lock_guard lock(mutex_);
  const QVariant value = settings_->value(Key(section, name));
  if (!value.isValid()) return defaultValue;
  // A value that is not a whole number (edited by hand) reads as missing.
  bool ok = false;
  const int number = value.toString().trimmed().toInt(&ok);
  return ok ? number : defaultValue;
}

void QSettingsProfileStore::SetInt(std::string_view section, std::string_view name, int value) {
  std::lock_guard lock(mutex_);
  settings_->setValue(Key(section, name), value);
}

std::string QSettingsProfileStore::GetString(std::string_view section, std::string_view name,
                                             std::string_view defaultValue) const {
  std::lock_guard lock(mutex_);
  const QVariant value = settings_->value(Key(section, name));
  if (!value.isValid()) return std::string(defaultValue);
  return value.toString().toStdString();
}

void QSettingsProfileStore::SetString(std::string_view section, std::string_view name, std::string_view value) {
  std::lock_guard lock(mutex_);
  settings_->setValue(Key(section, name), ToQString(value));
}

void QSettingsProfileStore::Sync() {
  std::lock_guard lock(mutex_);
  settings_->sync();
}

}  // namespace quorvel
