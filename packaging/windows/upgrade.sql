-- Major upgrade: wixl's MajorUpgrade finds only lower versions, so a rebuilt
-- package of the same version would install beside the one in place. The
-- row is written again with the version itself included (513: migrate
-- feature states + maximum inclusive); a higher version still stops at the
-- launch condition.
DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'
INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('@UPGRADE_CODE@', '@VERSION@', 513, 'WIX_UPGRADE_DETECTED')
