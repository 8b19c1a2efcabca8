-- Registration of the counters: the installed DLL's DllRegisterServer at install,
-- DllUnregisterServer at uninstall before the files are removed, each through the
-- regsvr32 of the package's bitness (@SYSTEM_FOLDER@ is SystemFolder, which is
-- SysWOW64 for the x86 package on 64-bit Windows). All run deferred in the
-- system context. A rollback action stands just before the action it undoes.
-- Types: 34 program in a directory, +1024 deferred, +256 rollback, +2048 no
-- impersonation, +64 exit code ignored.
-- An uninstall always completes, even when the library refuses to unregister.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackUnregisterCounters', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]regsvr32.exe" /s "[#VudoZid.dll]"')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('UnregisterCounters', 3170, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]regsvr32.exe" /u /s "[#VudoZid.dll]"')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackRegisterCounters', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]regsvr32.exe" /u /s "[#VudoZid.dll]"')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RegisterCounters', 3106, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]regsvr32.exe" /s "[#VudoZid.dll]"')
-- Around them: InstallInitialize 1500, RemoveFiles 3500, InstallFiles 4000,
-- InstallFinalize 6600. RemoveExistingProducts (1401) takes an older version
-- away, with its own unregistration, before this one registers.
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackUnregisterCounters', 'REMOVE~="ALL"', 3420)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('UnregisterCounters', 'REMOVE~="ALL"', 3430)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackRegisterCounters', 'NOT REMOVE~="ALL"', 6010)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RegisterCounters', 'NOT REMOVE~="ALL"', 6020)
-- A failed first install also sweeps what a registration that stopped half
-- way leaves and its unregistration cannot take back (the AppID keys, the
-- service's Performance key). Rollback actions run in reverse order: these
-- after RollbackRegisterCounters. Only for a first install: nothing of these
-- keys was there before.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackRemovePerformanceKey', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]reg.exe" delete "HKLM\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA\Performance" /f')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackRemoveAppIdName', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]reg.exe" delete "HKCR\AppID\VudoZid.DLL" /f')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RollbackRemoveAppId', 3426, '@SYSTEM_FOLDER@', '"[@SYSTEM_FOLDER@]reg.exe" delete "HKCR\AppID\{FF41D410-F176-44fd-9A2F-AB1668C7A041}" /f')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackRemovePerformanceKey', 'NOT Installed', 6005)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackRemoveAppIdName', 'NOT Installed', 6006)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RollbackRemoveAppId', 'NOT Installed', 6007)
-- The message of a failed action (error 1722): [2] action, [4] command line.
INSERT INTO `Error` (`Error`, `Message`) VALUES (1722, 'VudoZid setup: the step [2] failed and the installation is rolled back. Command: [4]. Run it by hand without /s to see the error (the README, "Installing on Windows", lists the usual causes).')
