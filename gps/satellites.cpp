#include "gps/satellites.h"

namespace gps {

bool TalkerOf(std::string_view letters, Talker* talker) {
  struct Row {
    std::string_view letters;
    Talker talker;
  };
  static constexpr Row kRows[] = {
      {"GP", Talker::kGps},     {"GN", Talker::kMulti},  {"GL", Talker::kGlonass},
      {"GA", Talker::kGalileo}, {"GB", Talker::kBeidou}, {"BD", Talker::kBeidou},
      {"GQ", Talker::kQzss},
  };
  for (const Row& row : kRows) {
    if (row.letters == letters) {
      *talker = row.talker;
      return true;
    }
  }
  return false;
}

namespace {

bool ByNmeaRange(int number, Constellation* constellation) {
  if (number >= 1 && number <= 32) {
    *constellation = Constellation::kGps;
  } else if ((number >= 33 && number <= 64) || (number >= 120 && number <= 158)) {
    *constellation = Constellation::kSbas;
  } else if (number >= 65 && number <= 96) {
    *constellation = Constellation::kGlonass;
  } else if (number >= 193 && number <= 202) {
    *constellation = Constellation::kQzss;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool ConstellationOf(Talker talker, int number, Constellation* constellation) {
  // Beyond any numbering in use (BeiDou's 401-463 is the highest).
  if (number < 1 || number > 499) return false;
  switch (talker) {
    case Talker::kGps:
    case Talker::kMulti:
      return ByNmeaRange(number, constellation);
    case Talker::kGlonass:
      *constellation = Constellation::kGlonass;
      return true;
    case Talker::kGalileo:
      *constellation = Constellation::kGalileo;
      return true;
    case Talker::kBeidou:
      *constellation = Constellation::kBeidou;
      return true;
    case Talker::kQzss:
      *constellation = Constellation::kQzss;
      return true;
  }
  return false;
}

bool ConstellationOfSystemId(int systemId, Constellation* constellation) {
  static constexpr Constellation kById[] = {Constellation::kGps, Constellation::kGlonass,
                                            Constellation::kGalileo, Constellation::kBeidou,
                                            Constellation::kQzss};
  if (systemId < 1 || systemId > 5) return false;
  *constellation = kById[systemId - 1];
  return true;
}

const char* ConstellationName(Constellation constellation) {
  switch (constellation) {
    case Constellation::kGps:
      return "GPS";
    case Constellation::kSbas:
      return "SBAS";
    case Constellation::kGlonass:
      return "GLONASS";
    case Constellation::kGalileo:
      return "Galileo";
    case Constellation::kBeidou:
      return "BeiDou";
    case Constellation::kQzss:
      return "QZSS";
  }
  return "";
}

}  // namespace gps
