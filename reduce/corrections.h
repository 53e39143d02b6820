// Corrections of integrated intensities: the Lorentz-polarisation factor of
// an omega scan and the decay measured by the standard reflections.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "reduce/records.h"

namespace kalvex::reduce {

// The incident beam's polarisation: with a monochromator crystal of
// diffraction angle mono_two_theta whose plane of diffraction makes the
// dihedral angle `dihedral` with the sample's (degrees); without one the
// beam is unpolarised.
struct Polarisation {
  bool monochromator = false;
  double mono_two_theta = 0;
  double dihedral = 0;
};

// L * P for an omega scan in the bisecting four-circle geometry at `two_theta`
// (degrees).
double LorentzPolarisation(double two_theta, const Polarisation& beam);

// One accepted measurement of a standard against the standard's first.
struct StandardRatio {
  int standard = 0;
  int seq = 0;
  double ratio = 1;
  double sigma = 0;
};

// One round of standards: the standards measured one after another.
struct DecayRound {
  double seq = 0;  // mean sequence number of its measurements
  int first_seq = 0, last_seq = 0;
  int members = 0;
  double scale = 1;  // measured / first measured, weighted mean over the round
  double sigma = 0;
  std::vector<StandardRatio> ratios;  // the members, in sequence order
};

// A standard that leaves the others of its round: more than kJumpSigmas
// combined sigmas and more than kJumpFraction away from the round's median
// ratio.
constexpr double kJumpSigmas = 5.0;
constexpr double kJumpFraction = 0.05;
struct StandardJump {
  int standard = 0;
  int round = 0;  // 1-based
  double ratio = 1;
  double others = 1;  // the round's median ratio
};

struct DecayModel {
  std::vector<DecayRound> rounds;
  // Empty when the rounds can correct; otherwise why they cannot.
  std::string refusal;
  double largest_decay_percent = 0;      // max over rounds of 100 (1 - scale)
  double start_to_finish_percent = 0;    // 100 (1 - last / first)
  int standards = 0;                     // distinct standard indices used
  std::vector<int> standard_codes;       // those indices, in order
  int interval = 0;                      // median count of reflections between rounds
  // Every measurement that leaves the others of its round, in round order.
  // Only rounds of two or more standards can show one.
  std::vector<StandardJump> jumps;
  bool Usable() const { return refusal.empty(); }
};

// Rounds of the standards among `records`, taken in sequence order. Only the
// standards the integration accepted, with a positive first measurement,
// carry a ratio; every record (ordinary reflections included, whatever their
// status) parts one round from the next.
DecayModel FitDecay(std::span<const IntensityRecord> records);

// The scale a reflection with sequence number `seq` was measured at:
// interpolated linearly between the rounds around it, that of the nearest
// round beyond either end; its sigma from those of the two rounds. The
// rounds are found by binary search.
struct DecayScale {
  double scale = 1;
  double sigma = 0;
};
DecayScale ScaleAt(const DecayModel& model, double seq);

// The scale group of a reflection: 1 up to the second round, k between
// rounds k and k + 1, the last interval's number after the last round.
// Always 1 without two rounds.
int ScaleGroup(const DecayModel& model, int seq);

}  // namespace kalvex::reduce
