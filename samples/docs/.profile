hidden settings
