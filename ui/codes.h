// The codes the command loop receives: a button, menu entry or toggle
// carries one, and the toolkit's wait returns it.
#pragma once

namespace kalvex {

// Command codes of the main window and the menus.
constexpr int kCodeClosed = -1;
constexpr int kCodeExit = 101;
constexpr int kCodeOpenData = 312;
constexpr int kCodeOpenParameters = 313;
constexpr int kCodeOpenOutput = 314;
constexpr int kCodeReport = 315;
constexpr int kCodeCopyCommand = 311;
constexpr int kCodeMenuExit = 316;
// File > Recent data files: entry i sends kCodeOpenRecent + i.
constexpr int kCodeOpenRecent = 317;
constexpr int kRecentFiles = 4;
constexpr int kCodeManualFit = 321;
constexpr int kCodeAutoFit = 322;
constexpr int kCodePreprocess = 331;
constexpr int kCodeCalcUB = 332;
constexpr int kCodeCalcBackground = 333;
constexpr int kCodeCalcFwhm = 334;
constexpr int kCodeReduce = 335;
constexpr int kCodePkvals = 341;
constexpr int kCodeDiffractometer = 342;
constexpr int kCodeBackgrounds = 343;
constexpr int kCodeOutputFormat = 344;

// Dialog codes.
constexpr int kCodeFormatOk = 470;
constexpr int kCodeSkipWeak = 428;
constexpr int kCodeResetDefaults = 429;
// The toggles of "Fitting Controls & Results", one code each: "R" and "D"
// of parameter k (1..6), "Limits" of k (1..7, Rwp last).
constexpr int RefineToggleCode(int k) { return 430 + k; }
constexpr int DefaultToggleCode(int k) { return 460 + k; }
constexpr int LimitsToggleCode(int k) { return 470 + k; }
// `code` is one of those toggles: a handler that refits on any of them asks
// this, rather than doing arithmetic over codes.
constexpr bool IsFitControlToggle(int code) {
  for (int k = 1; k <= 7; ++k) {
    if ((k <= 6 && (code == RefineToggleCode(k) || code == DefaultToggleCode(k))) || code == LimitsToggleCode(k)) {
      return true;
    }
  }
  return false;
}
constexpr int kCodePreprocessGo = 53;
constexpr int kCodePreprocessQuit = 54;
constexpr int kCodeDiffractometerOk = 511;
constexpr int kCodePeakQuit = 531;
constexpr int kCodePeakSave = 541;
constexpr int kCodeBgNone = 562;
constexpr int kCodeBgSpline = 563;
constexpr int kCodeBgExp = 564;
constexpr int kCodeBgFromScan = 565;
constexpr int kCodeBgQuit = 578;
constexpr int kCodeBgSave = 579;
constexpr int kCodeFwhmQuit = 64;
constexpr int kCodeFwhmSave = 65;
constexpr int kCodeOutputQuit = 592;
constexpr int kCodeOutputSave = 593;
constexpr int kCodeOutRfine = 594;
constexpr int kCodeOutRfineExtended = 595;
constexpr int kCodeOutShelx = 596;
constexpr int kCodeRefineConstrained = 621;
constexpr int kCodeRefineOffsets = 622;
constexpr int kCodeRefineOmegaZero = 623;
constexpr int kCodeRefineQuit = 625;
constexpr int kCodeRefineGo = 626;
constexpr int kCodeResultsOk = 631;
constexpr int kCodeOmegaOk = 672;
constexpr int kCodeReduceQuit = 681;
constexpr int kCodeReduceGo = 682;
constexpr int kCodeSummaryOk = 683;
constexpr int kCodeSummaryMore = 684;
constexpr int kCodeRunEndReport = 691;
constexpr int kCodeRunEndClose = 692;

// Main-window button codes of the fitting controls.
constexpr int kCodePrevious = 102;
constexpr int kCodeNext = 103;
constexpr int kCodeRefit = 104;
constexpr int kCodeHklGo = 106;
constexpr int kCodeSeqGo = 108;
constexpr int kCodeAccept = 111;
constexpr int kCodeReject = 112;
constexpr int kCodeGo = 117;
constexpr int kCodeStop = 118;

// The timer code of the long passes.
constexpr int kCodeTimer = 990;

}  // namespace kalvex
