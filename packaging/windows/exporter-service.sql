-- The exporter service (feature Exporter): qvperf.exe creates the service
-- VudoZidExporter, which runs the installed qvperf.exe, and removes it again.
-- A ServiceInstall row would need a copy of qvperf.exe of its own, since the
-- Counters feature owns the file. Types as in registration.sql.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RemoveExporterService', 3170, 'INSTALLDIR', '"[#qvperf.exe]" --remove-service')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('InstallExporterService', 3106, 'INSTALLDIR', '"[#qvperf.exe]" --install-service --listen [EXPORTER_LISTEN]')
-- Removed before the files go (RemoveFiles 3500); created once the files and
-- the counters are in place.
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveExporterService', '(&Exporter=2) AND (!Exporter=3)', 3410)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('InstallExporterService', '(&Exporter=3) AND NOT (!Exporter=3)', 6030)
-- The address may be given on the command line of a managed install as well.
UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;EXPORTER_LISTEN' WHERE `Property` = 'SecureCustomProperties'
