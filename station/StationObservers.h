#pragma once
// Several observers of one station, told every event in the order given.

#include <initializer_list>
#include <vector>

#include "station/StationObserver.h"

namespace voltrix {

class StationObservers final : public StationObserver {
 public:
  StationObservers(std::initializer_list<StationObserver*> observers) : observers_(observers) {}

  void stationStarted(const StationStarted& e) override {
    tell(&StationObserver::stationStarted, e);
  }
  void deviceAppeared(const DeviceAppeared& e) override {
    tell(&StationObserver::deviceAppeared, e);
  }
  void runStarted(const RunStarted& e) override { tell(&StationObserver::runStarted, e); }
  void progressChanged(const DeviceProgress& e) override {
    tell(&StationObserver::progressChanged, e);
  }
  void portBusyRetry(const PortBusyRetry& e) override { tell(&StationObserver::portBusyRetry, e); }
  void runFinished(const RunFinished& e) override { tell(&StationObserver::runFinished, e); }
  void warning(const StationWarning& e) override { tell(&StationObserver::warning, e); }
  void refused(const StationRefused& e) override { tell(&StationObserver::refused, e); }
  void logUnavailable(const std::string& e) override { tell(&StationObserver::logUnavailable, e); }
  void resultsDatabase(const ResultsNotice& e) override {
    tell(&StationObserver::resultsDatabase, e);
  }
  void passDone(const StationPass& e) override { tell(&StationObserver::passDone, e); }
  void jobNotice(const StationJobNotice& e) override { tell(&StationObserver::jobNotice, e); }
  void lineNotice(const LineNotice& e) override { tell(&StationObserver::lineNotice, e); }
  void stationFinished(const StationFinished& e) override {
    tell(&StationObserver::stationFinished, e);
  }

 private:
  template <typename Event>
  void tell(void (StationObserver::*event)(const Event&), const Event& value) {
    for (StationObserver* observer : observers_) (observer->*event)(value);
  }

  std::vector<StationObserver*> observers_;
};

}  // namespace voltrix
