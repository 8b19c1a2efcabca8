-- The exporter service (feature Exporter): qvperf.exe creates the service
-- VudoZidExporter, which runs the installed qvperf.exe, and removes it again
-- (stopping it first). A ServiceInstall row would need a copy of qvperf.exe
-- of its own, since the Counters feature owns the file. Types as in
-- registration.sql; 51 sets a property.
--
-- The service's life, in the conditions below:
-- - there before this run: !Exporter=3. In every run on an installed product
--   (repair, change, uninstall) it is removed (so stopped) before any file is
--   replaced, whatever the feature's recorded state, so an older version's
--   service never outlives the product (Wine does not report the feature's
--   state in a repair); removing a service that is not there does nothing;
-- - there after this run: &Exporter=3 OR (!Exporter=3 AND NOT &Exporter=2)
--   (install, repair, upgrade, another feature changed); created again after
--   the files, before the counters are registered so that a failed
--   registration takes it away in the rollback, and started at the end.
-- A major upgrade keeps the feature and the address: the address is
-- remembered in the registry (ExporterSettings in the .wxs, a component of
-- this feature) and read back by AppSearch, and where it is found the
-- feature is chosen by default (the Condition row: level 1), also where
-- feature states are not migrated (Wine's MigrateFeatureStates does not).
-- Given ADDLOCAL or REMOVE, the command line decides.
CREATE TABLE `Condition` (`Feature_` CHAR(38) NOT NULL, `Level` SHORT NOT NULL, `Condition` CHAR(255) PRIMARY KEY `Feature_`, `Level`)
INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('Exporter', 1, 'EXPORTER_LISTEN_SAVED')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ListenFromSavedSettings', 51, 'EXPORTER_LISTEN', '[EXPORTER_LISTEN_SAVED]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ListenDefault', 51, 'EXPORTER_LISTEN', '127.0.0.1:9464')
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('ListenFromSavedSettings', 'NOT EXPORTER_LISTEN AND EXPORTER_LISTEN_SAVED', 60)
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('ListenDefault', 'NOT EXPORTER_LISTEN', 61)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ListenFromSavedSettings', 'NOT EXPORTER_LISTEN AND EXPORTER_LISTEN_SAVED', 60)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ListenDefault', 'NOT EXPORTER_LISTEN', 61)
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackStartExporterService', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]sc.exe" start VudoZidExporter')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackRemoveExporterService', 3426, 'INSTALLDIR', '"[#qvperf.exe]" --install-service --listen [EXPORTER_LISTEN]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RemoveExporterService', 3170, 'INSTALLDIR', '"[#qvperf.exe]" --remove-service')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackDeleteExporterService', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]sc.exe" delete VudoZidExporter')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackDeleteEventSource', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]reg.exe" delete HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VudoZidExporter /f')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackStopExporterService', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]sc.exe" stop VudoZidExporter')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('InstallExporterService', 3106, 'INSTALLDIR', '"[#qvperf.exe]" --install-service --listen [EXPORTER_LISTEN]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('StartExporterService', 3170, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]sc.exe" start VudoZidExporter')
-- Rollback actions run in reverse order: a failed run after the removal
-- creates the service again, then starts it.
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackStartExporterService', '!Exporter=3 AND NOT REMOVE~="ALL"', 3402)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackRemoveExporterService', '!Exporter=3 AND NOT REMOVE~="ALL"', 3404)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveExporterService', 'Installed', 3410)
-- The rollback of the creation stops and deletes the service with sc.exe,
-- and its event log source with reg.exe, not qvperf.exe: Wine's rollback
-- removes the installed files first.
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackDeleteEventSource', '(&Exporter=3) OR (!Exporter=3 AND NOT &Exporter=2)', 6001)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackDeleteExporterService', '(&Exporter=3) OR (!Exporter=3 AND NOT &Exporter=2)', 6002)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackStopExporterService', '(&Exporter=3) OR (!Exporter=3 AND NOT &Exporter=2)', 6003)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('InstallExporterService', '(&Exporter=3) OR (!Exporter=3 AND NOT &Exporter=2)', 6004)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('StartExporterService', '(&Exporter=3) OR (!Exporter=3 AND NOT &Exporter=2)', 6040)
-- The address may be given on the command line of a managed install as well.
UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;EXPORTER_LISTEN' WHERE `Property` = 'SecureCustomProperties'
