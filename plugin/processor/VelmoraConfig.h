#pragma once

/** The maker's web addresses, in one place. Tests never contact them: they hand the
    update checker a loopback address of their own. */
namespace VelmoraConfig
{
/** Base of the update server; the checker asks for "lastVersion.php" and "changeLogMac.php" below it. */
constexpr const char* updateServerAddress = "https://updates.quarno.audio/velmora/";
/** Where "proceed to download page" leads. */
constexpr const char* productPageAddress = "https://quarno.audio/velmora";
} // namespace VelmoraConfig
