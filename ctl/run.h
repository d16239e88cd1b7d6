// The run loops' shared step: one measurement request, a lost line opened
// again, a silence said once; for watch, record and serve.
#pragma once

#include <functional>
#include <string>

#include "ctl/ctl.h"
#include "ctl/mqtt.h"

namespace ctl {

// What one measurement exchange of a run gave.
enum class Step { Got, Again, End };

// One request and its reply in `m`; `said` hears each state as it is met,
// a lost line before the wait for it to come back.
Step Measure(Sensor &s, proto::Words &params, Publisher &pub, double &silentSince, int &exitCode,
             proto::Measurement &m, const std::function<void(SensorState)> &said = {});

// The windows' colour test: the value within the set-point's band.
bool InTolerance(const proto::Measurement &m, const Sensor &s);
// One measurement as the JSON of watch and the broker.
std::string MeasurementJson(const std::string &stamp, unsigned long long seq,
                            const proto::Measurement &m, const Sensor &s);
// The link's health at the end of a run, as the windows' field says it.
void ReportHealth(const Sensor &s);

}   // namespace ctl
