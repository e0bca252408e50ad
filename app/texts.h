// Every French text the user reads or hears: messages, statuses, the
// screens' words, what screen readers are told (names, default actions), the
// window's title and what Windows shows of the product (shortcut, uninstall
// entry). One file, so that a reader or a translator finds them
// all at once; the code only names them. Texts that hold a file or the
// product's name are built by the small functions at the end.
#pragma once

#include <string>

#include "app/decimal.h"
#include "app/state.h"  // kProductName

// Messages of the Error screen (and of a silent run's log).
inline constexpr wchar_t kDamagedSetupMessage[] =
    L"Installateur endommag\u00e9 : t\u00e9l\u00e9chargez-le de nouveau.";
inline constexpr wchar_t kDamagedOrFullMessage[] =
    L"Installateur endommag\u00e9 ou disque plein : t\u00e9l\u00e9chargez-le de nouveau.";
inline constexpr wchar_t kSetupBusyMessage[] = L"Une autre installation de Norvale Lockra est en cours.";
inline constexpr wchar_t kNotInstalledMessage[] =
    L"Norvale Lockra n\u2019est pas install\u00e9 dans ce dossier.";
inline constexpr wchar_t kUninstallerFailedMessage[] = L"Impossible de cr\u00e9er le d\u00e9sinstalleur.";
inline constexpr wchar_t kCommandLineRefusedMessage[] =
    L"Ligne de commande incorrecte : un guillemet n\u2019est pas referm\u00e9.";
inline constexpr wchar_t kFolderTooLongMessage[] =
    L"Le dossier d\u2019installation est trop long : choisissez un chemin plus court.";
inline constexpr wchar_t kFolderUnchangeableMessage[] =
    L"Impossible de modifier le dossier d\u2019installation : rien n\u2019a \u00e9t\u00e9 "
    L"d\u00e9sinstall\u00e9.";
inline constexpr wchar_t kGenericFailureMessage[] = L"L'op\u00e9ration n'a pas abouti.";
// The Error screen's example in the exported previews.
inline constexpr wchar_t kPreviewErrorMessage[] =
    L"Impossible d'\u00e9crire dans le dossier d'installation (acc\u00e8s refus\u00e9).";

// Statuses shown under the progress bar.
inline constexpr wchar_t kStatusPreparing[] = L"Pr\u00e9paration\u2026";
inline constexpr wchar_t kStatusRegistering[] = L"Inscription dans Windows\u2026";
inline constexpr wchar_t kStatusFinished[] = L"Termin\u00e9";
inline constexpr wchar_t kStatusRemovingShortcuts[] = L"Suppression des raccourcis\u2026";
inline constexpr wchar_t kStatusRemovingFiles[] = L"Suppression des fichiers\u2026";
inline constexpr wchar_t kStatusRemovingData[] = L"Suppression de vos donn\u00e9es\u2026";
// The sizes under the progress bar (done, then total, in MiB).
inline constexpr wchar_t kSizesFormat[] = L"%llu Mo / %llu Mo";
inline constexpr wchar_t kStatusCopyingFiles[] = L"Copie des fichiers\u2026";  // the previews' example

// What Windows shows of the product.
inline constexpr wchar_t kShortcutDescription[] =
    L"Coffre-fort de mots de passe et de codes \u00e0 deux facteurs";
inline constexpr wchar_t kPublisher[] = L"\u00c9quipe Norvale";
inline constexpr wchar_t kTitleInstall[] = L" \u2014 Installation";  // after the product's name
inline constexpr wchar_t kTitleUninstall[] = L" \u2014 D\u00e9sinstallation";
inline constexpr wchar_t kFolderPickerTitle[] = L"Dossier d'installation";

// The screens.
inline constexpr wchar_t kTagInstall[] = L"INSTALLATION";
inline constexpr wchar_t kTagUpdate[] = L"MISE \u00c0 JOUR";
inline constexpr wchar_t kTagUninstall[] = L"D\u00c9SINSTALLATION";
inline constexpr wchar_t kTagDoneSuffix[] = L" TERMIN\u00c9E";
inline constexpr wchar_t kBeta[] = L"B\u00CATA";
inline constexpr wchar_t kInstallHeading[] = L"Installer ";  // then the product's name, highlighted
inline constexpr wchar_t kInstallSubtitle[] =
    L"Vos mots de passe et codes 2FA, depuis la zone de notification.";
inline constexpr wchar_t kDesktopShortcutLabel[] = L"Cr\u00e9er un raccourci sur le Bureau";
inline constexpr wchar_t kFolderLabel[] = L"DOSSIER";
inline constexpr wchar_t kChangeFolderLabel[] = L"Modifier";
inline constexpr wchar_t kInstallLabel[] = L"Installer";
inline constexpr wchar_t kCancelLabel[] = L"Annuler";
inline constexpr wchar_t kUninstallLabel[] = L"D\u00e9sinstaller";
inline constexpr wchar_t kRemoveDataLabel[] =
    L"Supprimer aussi mes donn\u00e9es (favoris, r\u00e9glages\u2026)";
inline constexpr wchar_t kRemoveDataOn[] =
    L"Les coffres enregistr\u00e9s sur ce PC seront effac\u00e9s (ils restent sur leurs serveurs).";
inline constexpr wchar_t kRemoveDataOff[] =
    L"Sans cette case, vos coffres restent enregistr\u00e9s sur ce PC pour une prochaine installation.";
inline constexpr wchar_t kProgressInstall[] = L"Installation\u2026";
inline constexpr wchar_t kProgressUpdate[] = L"Mise \u00e0 jour\u2026";
inline constexpr wchar_t kProgressUninstall[] = L"D\u00e9sinstallation\u2026";
inline constexpr wchar_t kProgressInstallSubtitle[] =
    L"On met tout en place, \u00e7a ne prend qu\u2019un instant.";
inline constexpr wchar_t kProgressReminder[] = L"> ne fermez pas cette fen\u00eatre";
inline constexpr wchar_t kDoneInstall[] = L"C\u2019est pr\u00eat !";
inline constexpr wchar_t kDoneUninstall[] = L"C\u2019est fait";
inline constexpr wchar_t kDoneInstallLine[] = L" est install\u00e9.";  // after the product's name
inline constexpr wchar_t kDoneUninstallLine[] = L" a \u00e9t\u00e9 d\u00e9sinstall\u00e9.";
inline constexpr wchar_t kDoneInstallWish[] = L"Bon stream, bonne partie, bon code.";
inline constexpr wchar_t kDoneUninstallWish[] = L"\u00c0 bient\u00f4t !";
inline constexpr wchar_t kCloseLabel[] = L"Fermer";
inline constexpr wchar_t kErrorHeading[] = L"Oups\u2026";
inline constexpr wchar_t kRetryLabel[] = L"R\u00e9essayer";
inline constexpr wchar_t kMinimizeLabel[] =
    L"R\u00e9duire";  // the title bar's button, named for screen readers

// What screen readers say of the progress bar, and the default actions
// they offer on a button and a check box.
inline constexpr wchar_t kProgressName[] = L"Progression";
inline constexpr wchar_t kActionPress[] = L"Appuyer";
inline constexpr wchar_t kActionCheck[] = L"Cocher";
inline constexpr wchar_t kActionUncheck[] = L"D\u00e9cocher";

// Texts around a file's or the product's name.
inline std::wstring CannotWriteMessage(const std::wstring& file) {
  return L"Impossible d'\u00e9crire " + file + L" : le fichier est peut-\u00eatre utilis\u00e9. Fermez " +
         kProductName + L" puis r\u00e9essayez.";
}
inline std::wstring UnfinishedInstallMessage() {
  return std::wstring(L"Impossible de terminer l\u2019installation pr\u00e9c\u00e9dente : fermez ") +
         kProductName + L" puis r\u00e9essayez.";
}
// `others`: how many more files are left besides `first`.
inline std::wstring CannotRemoveFilesMessage(const std::wstring& first, size_t others) {
  return L"Impossible de supprimer " + first +
         (others > 0 ? L" (et " + DecimalText(others) + L" autre(s))" : std::wstring()) +
         L" : le fichier est peut-\u00eatre utilis\u00e9. Fermez-le puis relancez la d\u00e9sinstallation.";
}
inline std::wstring ClosingProductStatus() {
  return std::wstring(L"Fermeture de ") + kProductName + L"\u2026";
}
inline std::wstring LaunchAtEndLabel() { return std::wstring(L"Lancer ") + kProductName + L" \u00e0 la fin"; }
inline std::wstring LaunchButton() { return std::wstring(L"Lancer ") + kProductName; }
inline std::wstring UninstallHeading() { return std::wstring(L"D\u00e9sinstaller ") + kProductName; }
inline std::wstring UninstallSubtitle() {
  return std::wstring(kProductName) + L" va \u00eatre retir\u00e9 de ce PC.";
}
inline std::wstring ProgressUninstallSubtitle() {
  return std::wstring(L"On retire ") + kProductName + L" de ce PC.";
}
