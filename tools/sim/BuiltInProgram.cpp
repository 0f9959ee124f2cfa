// The program the simulator runs when it is given none: a small bottling
// line with a conveyor, a buffer tank and a recipe store, written in the
// same JSON form a user's program file has (README, "Try it without a PLC").
#include "Program.h"

namespace vemo::sim {

namespace {

constexpr const char* kBuiltIn = R"json({
  "plc_type": "CPU 1516-3 PN/DP",
  "types": [
    {"name": "MotorCommand", "members": [
      {"name": "Start", "type": "Bool"},
      {"name": "Stop", "type": "Bool", "value": true},
      {"name": "Setpoint", "type": "Real", "value": 1450.0}
    ]},
    {"name": "Motor", "members": [
      {"name": "Running", "type": "Bool", "generator": {"kind": "toggle", "period_ms": 4000}},
      {"name": "Fault", "type": "Bool"},
      {"name": "Speed", "type": "Real", "generator": {"kind": "sine", "amplitude": 25.0, "offset": 1450.0, "period_ms": 8000}},
      {"name": "Current", "type": "Real", "generator": {"kind": "sine", "amplitude": 0.4, "offset": 3.2, "period_ms": 5000}},
      {"name": "OperatingHours", "type": "UDInt", "generator": {"kind": "counter", "start": 1200, "step": 1, "period_ms": 3600000}},
      {"name": "Command", "type": "MotorCommand"}
    ]},
    {"name": "IecTimer", "members": [
      {"name": "IN", "type": "Bool", "generator": {"kind": "toggle", "period_ms": 5000}},
      {"name": "PT", "type": "Time", "value": 5000},
      {"name": "ET", "type": "Time", "generator": {"kind": "ramp", "from": 0, "to": 5000, "period_ms": 5000}},
      {"name": "Q", "type": "Bool", "generator": {"kind": "toggle", "period_ms": 10000}}
    ]},
    {"name": "Valve", "members": [
      {"name": "Open", "type": "Bool", "generator": {"kind": "toggle", "period_ms": 6000}},
      {"name": "Closed", "type": "Bool"},
      {"name": "Position", "type": "Int", "generator": {"kind": "ramp", "from": 0, "to": 100, "period_ms": 6000}}
    ]}
  ],
  "blocks": [
    {"name": "Conveyor", "number": 1, "members": [
      {"name": "Motors", "type": "Array[1..3] of Motor"},
      {"name": "BeltSpeed", "type": "Real", "generator": {"kind": "sine", "amplitude": 0.2, "offset": 1.5, "period_ms": 12000}},
      {"name": "BottleCount", "type": "DInt", "generator": {"kind": "counter", "start": 0, "step": 3, "period_ms": 1000}},
      {"name": "Running", "type": "Bool", "value": true},
      {"name": "Recipe", "type": "String[24]", "value": "Still water 0.5 l"},
      {"name": "JamTimer", "type": "IecTimer"},
      {"name": "Status", "type": "Word", "value": 4660}
    ]},
    {"name": "Tank", "number": 2, "members": [
      {"name": "Level", "type": "Real", "generator": {"kind": "sine", "amplitude": 30.0, "offset": 55.0, "period_ms": 30000}},
      {"name": "Temperature", "type": "LReal", "generator": {"kind": "sine", "amplitude": 1.5, "offset": 18.0, "period_ms": 20000}},
      {"name": "Valves", "type": "Array[0..1] of Valve"},
      {"name": "Alarms", "type": "Array[0..15] of Bool", "value": [false, false, true, false, false, false, false, false, false, false, false, false, false, false, false, false]},
      {"name": "LevelLimits", "type": "Array[1..3, 0..1] of Int", "value": [5, 95, 10, 90, 15, 85]},
      {"name": "SensorOk", "type": "Array[0..1, 0..2] of BBool", "value": true},
      {"name": "FillCycles", "type": "ULInt", "generator": {"kind": "counter", "start": 100000, "step": 1, "period_ms": 2000}}
    ]},
    {"name": "Recipes", "number": 3, "members": [
      {"name": "Names", "type": "Array[1..4] of String[20]", "value": ["Still water 0.5 l", "Sparkling 0.5 l", "Still water 1.5 l", "Lemonade 0.33 l"]},
      {"name": "FillVolume", "type": "Array[1..4] of UInt", "value": [500, 500, 1500, 330]},
      {"name": "Active", "type": "USInt", "value": 1},
      {"name": "Operator", "type": "WString[32]", "value": "Schichtführer Nord"},
      {"name": "LastChange", "type": "LDT", "value": 1796212800000000000},
      {"name": "ProductionDate", "type": "Date", "value": 13492},
      {"name": "ShiftStart", "type": "Time_Of_Day", "value": 21600000},
      {"name": "Cycle", "type": "LTime", "value": 1250000000},
      {"name": "Marker", "type": "Char", "value": "A"}
    ]}
  ],
  "areas": {
    "I": [
      {"name": "StartButton", "type": "Bool", "generator": {"kind": "toggle", "period_ms": 7000}},
      {"name": "StopButton", "type": "Bool"},
      {"name": "LevelSensor", "type": "Int", "generator": {"kind": "ramp", "from": 0, "to": 27648, "period_ms": 30000}}
    ],
    "Q": [
      {"name": "ConveyorOn", "type": "Bool", "value": true},
      {"name": "ValveOutputs", "type": "Byte", "value": 5}
    ],
    "M": [
      {"name": "Heartbeat", "type": "Bool", "generator": {"kind": "toggle", "period_ms": 500}},
      {"name": "CycleCount", "type": "DInt", "generator": {"kind": "counter", "start": 0, "step": 1, "period_ms": 100}},
      {"name": "Scratch", "type": "Word"}
    ],
    "S7Timers": [
      {"name": "T1", "type": "Timer", "value": 4096},
      {"name": "T2", "type": "Timer"}
    ],
    "S7Counters": [
      {"name": "C1", "type": "Counter", "generator": {"kind": "counter", "start": 0, "step": 1, "period_ms": 2000}}
    ]
  }
})json";

}  // namespace

Program Program::builtIn() { return fromJson(kBuiltIn); }

const char* builtInProgramJson() { return kBuiltIn; }

}  // namespace vemo::sim
